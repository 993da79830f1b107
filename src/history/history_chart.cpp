#include "history/history_chart.h"

#include <algorithm>
#include <limits>

#include "history/history_texts.h"
#include "history/history_window.h"

namespace kalvo {

namespace {

constexpr std::uint64_t kSecondsPerHourOver100 = 36;  // 3600 s per hour / 100 for K x 100

std::uint32_t Saturate(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t SecondsPerBar(HistoryLevel level, const DeviceDateTime& position, std::uint32_t bar) {
    switch (level) {
    case HistoryLevel::Minute: return 10;
    case HistoryLevel::Hour: return 60;
    case HistoryLevel::Day: return 3600;
    case HistoryLevel::Month: return 86400;
    case HistoryLevel::Year: return DaysInMonth(bar + 1, position.year) * 86400u;
    }
    return 0;
}

std::string BarLabel(HistoryLevel level, std::uint32_t bar) {
    switch (level) {
    case HistoryLevel::Minute: return std::to_string(bar * 10);
    case HistoryLevel::Hour:
    case HistoryLevel::Day: return std::to_string(bar);
    case HistoryLevel::Month:
    case HistoryLevel::Year: return std::to_string(bar + 1);
    }
    return {};
}

ChartBar MakeBar(const WindowSums& window, std::uint32_t seconds, const ChartRequest& request) {
    ChartBar bar;
    bar.seconds = seconds;
    bar.coveredSeconds = window.coveredSeconds;
    if (bar.coveredSeconds == 0) return bar;  // blue stubs in all three series

    // All in 64 bits: the 32-bit steps of the old arithmetic wrapped for high rates. Divisors of
    // 0 cannot come from DoseConversionOf; they are taken as 1 rather than trapping.
    const DoseConversion& c = request.conversion;
    const std::uint64_t d = std::max<std::uint32_t>(c.sensitivity, 1);
    const std::uint64_t s = std::max<std::uint32_t>(c.sensors, 1);
    const std::uint64_t k = c.calibrationX100;
    bar.average = Saturate(window.pulseSum * kSecondsPerHourOver100 * k / bar.coveredSeconds / d / s);
    bar.maximum = Saturate(std::uint64_t{window.maximumRate} * kSecondsPerHourOver100 * k / (d * 10) / s);
    bar.maximum = std::max(bar.maximum, bar.average);
    bar.coverage = bar.coveredSeconds == seconds ? BarCoverage::Full : BarCoverage::Partial;

    bar.series2 = {bar.average, BarColour::Lime};
    bar.series3 = {1, bar.coverage == BarCoverage::Full ? BarColour::Green : BarColour::Fuchsia};
    bar.series1 = request.showMaximum ? ChartPoint{bar.maximum, BarColour::Yellow} : ChartPoint{1, BarColour::Fuchsia};
    return bar;
}

const char* CoverageName(BarCoverage coverage) {
    switch (coverage) {
    case BarCoverage::Full: return "full";
    case BarCoverage::Partial: return "partial";
    case BarCoverage::Empty: return "empty";
    }
    return "";
}

}  // namespace

std::uint32_t BarColourRgb(BarColour colour) {
    switch (colour) {
    case BarColour::Lime: return 0x00FF00;
    case BarColour::Green: return 0x008000;
    case BarColour::Fuchsia: return 0xFF00FF;
    case BarColour::Yellow: return 0xFFFF00;
    case BarColour::Blue: return 0x0000FF;
    }
    return 0;
}

std::string_view BarColourName(BarColour colour) {
    switch (colour) {
    case BarColour::Lime: return "lime";
    case BarColour::Green: return "green";
    case BarColour::Fuchsia: return "fuchsia";
    case BarColour::Yellow: return "yellow";
    case BarColour::Blue: return "blue";
    }
    return "";
}

ChartModel WaitingChart(InterfaceLanguage language) {
    ChartModel model;
    model.title.push_back(kHistoryWaitingTitle.Pick(language));
    return model;
}

std::string ChartTitleLine1(HistoryLevel level, const DeviceDateTime& position, InterfaceLanguage language) {
    switch (level) {
    case HistoryLevel::Minute:
        return kHistoryMinuteTitle.Pick(language) + " : " + DateText(position) + "-" + TwoDigitText(position.hour) +
               ":" + TwoDigitText(position.minute);
    case HistoryLevel::Hour:
        return kHistoryHourTitle.Pick(language) + " : " + DateText(position) + "-" + std::to_string(position.hour);
    case HistoryLevel::Day: return kHistoryDayTitle.Pick(language) + " : " + DateText(position);
    case HistoryLevel::Month:
        return kHistoryMonthTitle.Pick(language) + " : 20" + TwoDigitText(position.year) + "-" +
               TwoDigitText(position.month);
    case HistoryLevel::Year: return kHistoryYearTitle.Pick(language) + " : 20" + TwoDigitText(position.year);
    }
    return {};
}

std::string ChartTitleLine2(const DoseConversion& conversion, InterfaceLanguage language) {
    return kHistoryRateUnit.Pick(language) + "  K = " + std::to_string(conversion.calibrationX100 / 100) + "," +
           TwoDigitText(conversion.calibrationX100 % 100);
}

std::uint32_t BarCount(HistoryLevel level, const DeviceDateTime& position) {
    switch (level) {
    case HistoryLevel::Minute: return 6;
    case HistoryLevel::Hour: return 60;
    case HistoryLevel::Day: return 24;
    case HistoryLevel::Month: return DaysInMonth(position.month, position.year);
    case HistoryLevel::Year: return 12;
    }
    return 0;
}

DeviceDateTime PeriodStart(HistoryLevel level, const DeviceDateTime& position) {
    DeviceDateTime start = position;
    start.second = 0;
    if (level >= HistoryLevel::Hour) start.minute = 0;
    if (level >= HistoryLevel::Day) start.hour = 0;
    if (level >= HistoryLevel::Month) start.day = 1;
    if (level >= HistoryLevel::Year) start.month = 1;
    return start;
}

ChartModel DrawHistoryChart(const HistoryRecordSource& records, const ChartRequest& request,
                            const std::function<void()>& pump) {
    ChartModel model;
    model.level = request.level;
    model.title.push_back(ChartTitleLine1(request.level, request.position, request.language));
    model.title.push_back(ChartTitleLine2(request.conversion, request.language));
    model.startTime = DateTimeToSeconds(PeriodStart(request.level, request.position));

    const std::uint32_t count = BarCount(request.level, request.position);
    std::vector<BarSpan> spans;
    std::uint64_t periodSeconds = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t seconds = SecondsPerBar(request.level, request.position, i);
        spans.push_back({static_cast<std::uint32_t>(model.startTime + periodSeconds), seconds});
        periodSeconds += seconds;
    }
    model.bars.reserve(count);
    std::vector<WindowSums> sums;
    if (periodSeconds && std::uint64_t{model.startTime} + periodSeconds <= 0x100000000 && records.SumBars(spans, sums) &&
        sums.size() == count) {
        for (std::uint32_t i = 0; i < count; ++i) {
            ChartBar bar = MakeBar(sums[i], spans[i].seconds, request);
            bar.label = BarLabel(request.level, i);
            model.bars.push_back(std::move(bar));
        }
        return model;
    }
    const std::uint64_t last = std::uint64_t{model.startTime} + (periodSeconds ? periodSeconds - 1 : 0);
    records.PreparePeriod(model.startTime, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF)));

    HistoryWindow window(records, pump);
    window.Begin(model.startTime);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t seconds = spans[i].seconds;
        window.Next(seconds);
        ChartBar bar = MakeBar({window.PulseSum(), window.CoveredSeconds(), window.MaximumRate()}, seconds, request);
        bar.label = BarLabel(request.level, i);
        model.bars.push_back(std::move(bar));
    }
    window.End();
    return model;
}

std::string ChartModelText(const ChartModel& model) {
    std::string text;
    for (const std::string& line : model.title) text += line + "\n";
    for (const ChartBar& bar : model.bars) {
        text += bar.label + ";" + std::to_string(bar.average) + ";" + std::to_string(bar.maximum) + ";" +
                std::to_string(bar.coveredSeconds) + ";" + CoverageName(bar.coverage) + "\n";
    }
    return text;
}

void StartChartAt(HistoryChartState& state, const DeviceDateTime& deviceTime) {
    state.level = HistoryLevel::Minute;
    state.position = deviceTime;
    state.downloadTime = deviceTime;
}

bool NavigateUp(HistoryChartState& state) {
    if (state.level == HistoryLevel::Year) return false;
    state.level = static_cast<HistoryLevel>(static_cast<int>(state.level) + 1);
    return true;
}

bool NavigateDrillDown(HistoryChartState& state, int bar) {
    if (state.level == HistoryLevel::Minute) return false;
    if (bar < 0 || static_cast<std::uint32_t>(bar) >= BarCount(state.level, state.position)) return false;
    const auto v = static_cast<std::uint8_t>(bar);
    state.level = static_cast<HistoryLevel>(static_cast<int>(state.level) - 1);
    switch (state.level) {
    case HistoryLevel::Minute: state.position.minute = v; break;
    case HistoryLevel::Hour: state.position.hour = v; break;
    case HistoryLevel::Day: state.position.day = static_cast<std::uint8_t>(v + 1); break;
    case HistoryLevel::Month:
        state.position.month = static_cast<std::uint8_t>(v + 1);
        // Keeps the position a real date (31 January into February).
        state.position.day = static_cast<std::uint8_t>(
            std::min<unsigned>(state.position.day, std::max(DaysInMonth(state.position.month, state.position.year), 1u)));
        break;
    case HistoryLevel::Year: break;
    }
    return true;
}

bool NavigateBack(HistoryChartState& state) {
    switch (state.level) {
    case HistoryLevel::Minute: state.position = MinuteBack(state.position); break;
    case HistoryLevel::Hour: state.position = HourBack(state.position); break;
    case HistoryLevel::Day: state.position = DayBack(state.position); break;
    case HistoryLevel::Month: state.position = MonthBack(state.position); break;
    case HistoryLevel::Year: state.position = YearBack(state.position); break;
    }
    return true;
}

bool NavigateForward(HistoryChartState& state) {
    switch (state.level) {
    case HistoryLevel::Minute: state.position = MinuteForward(state.position); break;
    case HistoryLevel::Hour: state.position = HourForward(state.position); break;
    case HistoryLevel::Day: state.position = DayForward(state.position); break;
    case HistoryLevel::Month: state.position = MonthForward(state.position); break;
    case HistoryLevel::Year: state.position = YearForward(state.position); break;
    }
    return true;
}

bool NavigateToLast(HistoryChartState& state) {
    state.position = state.downloadTime;
    state.level = HistoryLevel::Minute;
    return true;
}

}  // namespace kalvo
