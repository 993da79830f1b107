#include <gtest/gtest.h>

#include <algorithm>

#include "history/history_chart.h"
#include "history/history_image.h"
#include "history/record_source.h"

namespace kalvo {
namespace {

using test::Rec;
using test::VectorRecordSource;

constexpr auto kEnglish = InterfaceLanguage::English;
constexpr auto kRussian = InterfaceLanguage::Russian;

DeviceDateTime At(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
                  unsigned second = 0) {
    return MakeDeviceDateTime(year, month, day, hour, minute, second);
}

std::uint32_t Seconds(unsigned year, unsigned month, unsigned day, unsigned hour = 0, unsigned minute = 0,
                      unsigned second = 0) {
    return DateTimeToSeconds(At(year, month, day, hour, minute, second));
}

DoseConversion R630(std::uint32_t calibration = 100) { return DoseConversionOf(kBoardCodeR630, 0, calibration); }

ChartRequest Request(HistoryLevel level, const DeviceDateTime& position, DoseConversion conversion = R630(),
                     bool showMaximum = true) {
    return {level, position, conversion, showMaximum, kEnglish};
}

std::vector<std::string> Labels(const ChartModel& model) {
    std::vector<std::string> labels;
    for (const ChartBar& bar : model.bars) labels.push_back(bar.label);
    return labels;
}

TEST(DoseConversion, DivisorsByFamilyAndVariant) {
    EXPECT_EQ(DoseConversionOf(630, 0, 100), (DoseConversion{2, 86, 100}));
    EXPECT_EQ(DoseConversionOf(630, 1, 127), (DoseConversion{2, 86, 127}));
    EXPECT_EQ(DoseConversionOf(520, 1, 100), (DoseConversion{1, 68, 100}));
    EXPECT_EQ(DoseConversionOf(520, 5, 100), (DoseConversion{1, 68, 100}));  // low two bits only
    EXPECT_EQ(DoseConversionOf(520, 2, 100), (DoseConversion{1, 76, 100}));
    EXPECT_EQ(DoseConversionOf(520, 0, 100), (DoseConversion{1, 76, 100}));
    EXPECT_EQ(DoseConversionOf(415, 1, 100), (DoseConversion{1, 68, 100}));
    DeviceIdentity identity;
    identity.boardInfo.boardCode = 520;
    identity.boardInfo.variant = 1;
    EXPECT_EQ(DoseConversionOf(identity, 90), (DoseConversion{1, 68, 90}));

    EXPECT_EQ(ClampCalibrationX100(0), 10u);
    EXPECT_EQ(ClampCalibrationX100(10), 10u);
    EXPECT_EQ(ClampCalibrationX100(127), 127u);
    EXPECT_EQ(ClampCalibrationX100(999), 999u);
    EXPECT_EQ(ClampCalibrationX100(1000), 999u);
    EXPECT_EQ(ClampCalibrationX100(0xFFFFFFFF), 999u);
}

TEST(HistoryChartTitle, EveryLevelInBothLanguages) {
    const DeviceDateTime position = At(2026, 12, 7, 9, 5, 33);
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Minute, position, kEnglish), "Hostory for Minute : 07.12.2026-09:05");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Hour, position, kEnglish), "Hostory for Hour : 07.12.2026-9");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Day, position, kEnglish), "Hostory for Day : 07.12.2026");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Month, position, kEnglish), "Hostory for Month : 2026-12");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Year, position, kEnglish), "Hostory for Year : 2026");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Minute, position, kRussian), "История за минуту : 07.12.2026-09:05");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Hour, At(2026, 12, 7, 15), kRussian), "История за час : 07.12.2026-15");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Day, position, kRussian), "История за день : 07.12.2026");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Month, At(2005, 3, 1), kRussian), "История за месяц : 2005-03");
    EXPECT_EQ(ChartTitleLine1(HistoryLevel::Year, At(2005, 3, 1), kRussian), "История за год : 2005");

    EXPECT_EQ(ChartTitleLine2(R630(100), kEnglish), "uR/h  K = 1,00");
    EXPECT_EQ(ChartTitleLine2(R630(127), kEnglish), "uR/h  K = 1,27");
    EXPECT_EQ(ChartTitleLine2(R630(10), kRussian), "мкР/час  K = 0,10");
    EXPECT_EQ(ChartTitleLine2(R630(999), kEnglish), "uR/h  K = 9,99");

    VectorRecordSource none;
    ChartModel model = DrawHistoryChart(none, Request(HistoryLevel::Minute, position));
    EXPECT_EQ(model.title, (std::vector<std::string>{"Hostory for Minute : 07.12.2026-09:05", "uR/h  K = 1,00"}));
    EXPECT_EQ(WaitingChart(kEnglish).title, std::vector<std::string>{"Waiting of reading History"});
    EXPECT_EQ(WaitingChart(kRussian).title, std::vector<std::string>{"Ожидание считывания истории"});
    EXPECT_TRUE(WaitingChart(kEnglish).bars.empty());
}

TEST(HistoryChartBars, LabelsAndLengthsOfEveryLevel) {
    VectorRecordSource none;
    const DeviceDateTime position = At(2024, 2, 10, 13, 27, 41);
    ChartModel minute = DrawHistoryChart(none, Request(HistoryLevel::Minute, position));
    EXPECT_EQ(Labels(minute), (std::vector<std::string>{"0", "10", "20", "30", "40", "50"}));
    EXPECT_EQ(minute.bars[0].seconds, 10u);
    EXPECT_EQ(minute.startTime, Seconds(2024, 2, 10, 13, 27));

    ChartModel hour = DrawHistoryChart(none, Request(HistoryLevel::Hour, position));
    ASSERT_EQ(hour.bars.size(), 60u);
    EXPECT_EQ(hour.bars[59].label, "59");
    EXPECT_EQ(hour.bars[0].seconds, 60u);
    EXPECT_EQ(hour.startTime, Seconds(2024, 2, 10, 13));

    ChartModel day = DrawHistoryChart(none, Request(HistoryLevel::Day, position));
    ASSERT_EQ(day.bars.size(), 24u);
    EXPECT_EQ(day.bars[0].label, "0");
    EXPECT_EQ(day.bars[23].label, "23");
    EXPECT_EQ(day.bars[5].seconds, 3600u);
    EXPECT_EQ(day.startTime, Seconds(2024, 2, 10));

    ChartModel month = DrawHistoryChart(none, Request(HistoryLevel::Month, position));
    ASSERT_EQ(month.bars.size(), 29u);
    EXPECT_EQ(month.bars[0].label, "1");
    EXPECT_EQ(month.bars[28].label, "29");
    EXPECT_EQ(month.bars[28].seconds, 86400u);
    EXPECT_EQ(month.startTime, Seconds(2024, 2, 1));
    EXPECT_EQ(DrawHistoryChart(none, Request(HistoryLevel::Month, At(2023, 2, 10))).bars.size(), 28u);
    EXPECT_EQ(DrawHistoryChart(none, Request(HistoryLevel::Month, At(2023, 4, 30))).bars.size(), 30u);

    ChartModel year = DrawHistoryChart(none, Request(HistoryLevel::Year, position));
    EXPECT_EQ(Labels(year),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}));
    EXPECT_EQ(year.bars[1].seconds, 29u * 86400);
    EXPECT_EQ(year.bars[3].seconds, 30u * 86400);
    EXPECT_EQ(year.startTime, Seconds(2024, 1, 1));
    EXPECT_EQ(DrawHistoryChart(none, Request(HistoryLevel::Year, At(2023, 5, 5))).bars[1].seconds, 28u * 86400);
}

TEST(HistoryChartBars, EmptyBarsAreBlueStubsInAllThreeSeries) {
    VectorRecordSource none;
    ChartModel model = DrawHistoryChart(none, Request(HistoryLevel::Minute, At(2024, 2, 10)));
    for (const ChartBar& bar : model.bars) {
        EXPECT_EQ(bar.coverage, BarCoverage::Empty);
        EXPECT_EQ(bar.coveredSeconds, 0u);
        EXPECT_EQ(bar.average, 0u);
        EXPECT_EQ(bar.series1, (ChartPoint{1, BarColour::Blue}));
        EXPECT_EQ(bar.series2, (ChartPoint{1, BarColour::Blue}));
        EXPECT_EQ(bar.series3, (ChartPoint{1, BarColour::Blue}));
    }
}

TEST(HistoryChartBars, AverageMarkerAndMaximum) {
    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    // Bar 0 full with 43 pulses in 10 s; bar 1 half covered; bar 2 empty; bar 3 a short burst.
    VectorRecordSource records({Rec(t, 10, 43), Rec(t + 10, 5, 43), Rec(t + 30, 0, 50), Rec(t + 31, 9, 0)});
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27, 12)));
    ASSERT_EQ(model.bars.size(), 6u);

    // 43 x 36 x 100 / 10 / 86 / 2 = 90.
    const ChartBar& full = model.bars[0];
    EXPECT_EQ(full.average, 90u);
    EXPECT_EQ(full.coverage, BarCoverage::Full);
    EXPECT_EQ(full.series2, (ChartPoint{90, BarColour::Lime}));
    EXPECT_EQ(full.series3, (ChartPoint{1, BarColour::Green}));
    EXPECT_EQ(full.maximum, 90u);  // 43 per 10 s x 36 x 100 / 860 / 2
    EXPECT_EQ(full.series1, (ChartPoint{90, BarColour::Yellow}));

    // Averaged over the 5 covered seconds only.
    const ChartBar& partial = model.bars[1];
    EXPECT_EQ(partial.coveredSeconds, 5u);
    EXPECT_EQ(partial.average, 180u);
    EXPECT_EQ(partial.coverage, BarCoverage::Partial);
    EXPECT_EQ(partial.series3, (ChartPoint{1, BarColour::Fuchsia}));
    // The 5 s record has no rate of its own: the maximum is raised to the average.
    EXPECT_EQ(partial.maximum, 180u);

    EXPECT_EQ(model.bars[2].coverage, BarCoverage::Empty);

    // Length 0 counts as one second: 50 pulses in 10 covered seconds of bar 3.
    const ChartBar& burst = model.bars[3];
    EXPECT_EQ(burst.coveredSeconds, 10u);
    EXPECT_EQ(burst.average, 50u * 36 * 100 / 10 / 86 / 2);
    EXPECT_EQ(burst.maximum, burst.average);
}

TEST(HistoryChartBars, MaximumIsNeverBelowTheAverage) {
    const std::uint32_t t = Seconds(2030, 6, 1);
    // A steady record with a 1-second spike of many pulses in the same bar: the spike has no
    // rate of its own (shorter than 10 s), so the average exceeds the steady rate.
    VectorRecordSource records({Rec(t, 9, 9000), Rec(t + 9, 0, 50000), Rec(t + 10, 50, 50)});
    DoseConversion conversion = DoseConversionOf(520, 2, 100);
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2030, 6, 1), conversion));
    for (const ChartBar& bar : model.bars) {
        EXPECT_GE(bar.maximum, bar.average) << bar.label;
        EXPECT_EQ(bar.series1.value, bar.maximum);
    }
    EXPECT_EQ(model.bars[0].average, 59000u * 36 * 100 / 10 / 76);
    EXPECT_EQ(model.bars[1].maximum, 10u * 36 * 100 / 760);  // 10 per 10 s
}

TEST(HistoryChartBars, WithoutShowMaximumSeries1IsAFuchsiaStub) {
    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    VectorRecordSource records({Rec(t, 10, 43)});
    ChartModel model =
        DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27), R630(), false));
    EXPECT_EQ(model.bars[0].series1, (ChartPoint{1, BarColour::Fuchsia}));
    EXPECT_EQ(model.bars[0].series2, (ChartPoint{90, BarColour::Lime}));
    EXPECT_EQ(model.bars[1].series1, (ChartPoint{1, BarColour::Blue}));
}

TEST(HistoryChartBars, CalibrationScalesBothValues) {
    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    VectorRecordSource records({Rec(t, 10, 43)});
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27), R630(150)));
    EXPECT_EQ(model.bars[0].average, 43u * 36 * 150 / 10 / 86 / 2);
    EXPECT_EQ(model.bars[0].maximum, 43u * 36 * 150 / 860 / 2);
    EXPECT_EQ(model.title[1], "uR/h  K = 1,50");
}

TEST(HistoryChartBars, HighRatesDoNotWrap) {
    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    // 2 million pulses per second: x 3600 x K no longer fits 32 bits, the result does.
    VectorRecordSource records({Rec(t, 10, 20000000), Rec(t + 10, 10, 0xFFFFFFFF)});
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27)));
    EXPECT_EQ(model.bars[0].average, 20000000ull * 36 * 100 / 10 / 86 / 2);
    EXPECT_EQ(model.bars[0].maximum, 20000000ull * 36 * 100 / 860 / 2);
    // Beyond 32 bits the value is held at the top rather than wrapped to a small one.
    EXPECT_EQ(model.bars[1].average, 0xFFFFFFFFu);
    EXPECT_EQ(model.bars[1].maximum, 0xFFFFFFFFu);
}

TEST(HistoryChartBars, DayViewSplitsARecordAcrossHours) {
    const std::uint32_t t = Seconds(2024, 2, 10, 4, 30);
    VectorRecordSource records({Rec(t, 3600, 3600)});  // 04:30 .. 05:29:59, one pulse a second
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Day, At(2024, 2, 10, 17)));
    EXPECT_EQ(model.bars[4].coveredSeconds, 1800u);
    EXPECT_EQ(model.bars[5].coveredSeconds, 1800u);
    EXPECT_EQ(model.bars[4].coverage, BarCoverage::Partial);
    EXPECT_EQ(model.bars[4].average, 1800u * 36 * 100 / 1800 / 86 / 2);
    EXPECT_EQ(model.bars[5].average, model.bars[4].average);
    EXPECT_EQ(model.bars[3].coverage, BarCoverage::Empty);
    EXPECT_EQ(model.bars[6].coverage, BarCoverage::Empty);
}

TEST(HistoryChartBars, YearViewOverAFullYearOfRecords) {
    // One record per hour of 2024, each 3600 s with 360 pulses.
    VectorRecordSource records;
    const std::uint32_t start = Seconds(2024, 1, 1);
    for (std::uint32_t h = 0; h < 366 * 24; ++h) records.records.push_back(Rec(start + 3600 * h, 3600, 360));
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Year, At(2024, 7, 15)));
    ASSERT_EQ(model.bars.size(), 12u);
    for (std::uint32_t i = 0; i < 12; ++i) {
        const ChartBar& bar = model.bars[i];
        EXPECT_EQ(bar.coverage, BarCoverage::Full) << i;
        EXPECT_EQ(bar.coveredSeconds, DaysInMonth(i + 1, 24) * 86400) << i;
        EXPECT_EQ(bar.average, 360u * 24 * DaysInMonth(i + 1, 24) * 36 * 100 / bar.coveredSeconds / 86 / 2);
        EXPECT_EQ(bar.maximum, 1u * 36 * 100 / 860 / 2 < bar.average ? bar.average : 1u * 36 * 100 / 860 / 2);
    }
    // The years around it are empty; a period before the first record draws normally.
    ChartModel before = DrawHistoryChart(records, Request(HistoryLevel::Year, At(2023, 7, 15)));
    for (const ChartBar& bar : before.bars) EXPECT_EQ(bar.coverage, BarCoverage::Empty);
    ChartModel after = DrawHistoryChart(records, Request(HistoryLevel::Year, At(2025, 7, 15)));
    for (const ChartBar& bar : after.bars) EXPECT_EQ(bar.series2, (ChartPoint{1, BarColour::Blue}));
    ChartModel december = DrawHistoryChart(records, Request(HistoryLevel::Month, At(2023, 12, 31)));
    for (const ChartBar& bar : december.bars) EXPECT_EQ(bar.coverage, BarCoverage::Empty);
}

TEST(HistoryChartBars, DrawsFromALoadedWrappedRing) {
    // Records on both sides of the 0xFF00 wrap of the physical index.
    class Flash : public HistoryPairSource {
    public:
        int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
            std::uint32_t physical = (address - kHistoryBaseAddress) / 16;
            for (std::uint32_t k = 0; k < 2; ++k) {
                HistoryRecord record;
                if (physical + k >= 0xFE00 || physical + k < 0x100) {
                    std::uint32_t logical = physical + k >= 0xFE00 ? physical + k - 0xFE00 : physical + k + 0x100;
                    record = Rec(base + 10 * logical, 10, logical);
                }
                HistoryRecordBytes bytes = record.ToBytes();
                std::copy(bytes.begin(), bytes.end(), buffer + 16 * k);
            }
            return length;
        }
        std::uint32_t base = 0;
    } flash;
    flash.base = Seconds(2024, 2, 10, 13, 0);
    HistoryStore store;
    store.BeginDownload();
    ASSERT_TRUE(store.ReadPage(0, flash));
    ASSERT_TRUE(store.ReadPage(254, flash));
    store.SetHeader(HistoryHeader::FromParameters(0x10000000, 0x00FF01FF, 0xFE0000FF, 0));
    store.MarkLoaded();
    ASSERT_EQ(store.RecordCount(), 0x1FFu);
    // Minute 42 holds logical records 252 .. 257, across the wrap.
    ChartModel model = DrawHistoryChart(store, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 42)));
    for (std::uint32_t i = 0; i < 6; ++i) {
        const std::uint32_t logical = 252 + i;
        EXPECT_EQ(model.bars[i].average, logical * 36 * 100 / 10 / 86 / 2) << i;
        EXPECT_EQ(model.bars[i].coverage, BarCoverage::Full);
    }
}

TEST(HistoryChartBars, PumpRunsWhileDrawing) {
    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    VectorRecordSource records({Rec(t, 10, 1), Rec(t + 10, 10, 1)});
    int pumps = 0;
    DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27)), [&] { ++pumps; });
    EXPECT_GE(pumps, 2);
}

TEST(HistoryChartBars, ColoursAndText) {
    EXPECT_EQ(BarColourRgb(BarColour::Lime), 0x00FF00u);
    EXPECT_EQ(BarColourRgb(BarColour::Green), 0x008000u);
    EXPECT_EQ(BarColourRgb(BarColour::Fuchsia), 0xFF00FFu);
    EXPECT_EQ(BarColourRgb(BarColour::Yellow), 0xFFFF00u);
    EXPECT_EQ(BarColourRgb(BarColour::Blue), 0x0000FFu);
    EXPECT_EQ(BarColourName(BarColour::Fuchsia), "fuchsia");

    const std::uint32_t t = Seconds(2024, 2, 10, 13, 27);
    VectorRecordSource records({Rec(t, 10, 43), Rec(t + 10, 5, 43)});
    ChartModel model = DrawHistoryChart(records, Request(HistoryLevel::Minute, At(2024, 2, 10, 13, 27)));
    EXPECT_EQ(ChartModelText(model),
              "Hostory for Minute : 10.02.2024-13:27\n"
              "uR/h  K = 1,00\n"
              "0;90;90;10;full\n"
              "10;180;180;5;partial\n"
              "20;0;0;0;empty\n"
              "30;0;0;0;empty\n"
              "40;0;0;0;empty\n"
              "50;0;0;0;empty\n");
}

TEST(HistoryChartNavigation, StartUpAndToLast) {
    HistoryChartState state;
    StartChartAt(state, At(2026, 12, 7, 9, 5, 33));
    EXPECT_EQ(state.level, HistoryLevel::Minute);
    EXPECT_EQ(state.position, At(2026, 12, 7, 9, 5, 33));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(NavigateUp(state));
    EXPECT_EQ(state.level, HistoryLevel::Year);
    EXPECT_FALSE(NavigateUp(state));  // already at the year: nothing, no redraw
    EXPECT_EQ(state.level, HistoryLevel::Year);
    NavigateBack(state);
    EXPECT_EQ(state.position.year, 25);
    EXPECT_TRUE(NavigateToLast(state));
    EXPECT_EQ(state.level, HistoryLevel::Minute);
    EXPECT_EQ(state.position, At(2026, 12, 7, 9, 5, 33));
}

TEST(HistoryChartNavigation, DrillDownSetsTheFieldOfTheNewLevel) {
    HistoryChartState state;
    StartChartAt(state, At(2024, 7, 31, 9, 5, 33));
    EXPECT_FALSE(NavigateDrillDown(state, 3));  // nothing below the minute

    state.level = HistoryLevel::Day;
    EXPECT_TRUE(NavigateDrillDown(state, 4));  // bar 4 of the day: 04:00
    EXPECT_EQ(state.level, HistoryLevel::Hour);
    EXPECT_EQ(state.position.hour, 4);
    EXPECT_EQ(ChartTitleLine1(state.level, state.position, kEnglish), "Hostory for Hour : 31.07.2024-4");
    EXPECT_EQ(PeriodStart(state.level, state.position), At(2024, 7, 31, 4, 0, 0));

    EXPECT_TRUE(NavigateDrillDown(state, 59));
    EXPECT_EQ(state.level, HistoryLevel::Minute);
    EXPECT_EQ(state.position.minute, 59);

    state.level = HistoryLevel::Year;
    EXPECT_TRUE(NavigateDrillDown(state, 1));
    EXPECT_EQ(state.level, HistoryLevel::Month);
    EXPECT_EQ(state.position.month, 2);
    EXPECT_EQ(state.position.day, 29);  // 31 July into February 2024

    EXPECT_TRUE(NavigateDrillDown(state, 28));
    EXPECT_EQ(state.level, HistoryLevel::Day);
    EXPECT_EQ(state.position.day, 29);
}

TEST(HistoryChartNavigation, DrillDownIgnoresBarsThePeriodDoesNotHave) {
    HistoryChartState state;
    StartChartAt(state, At(2023, 2, 10, 9, 5));
    state.level = HistoryLevel::Month;
    EXPECT_FALSE(NavigateDrillDown(state, 28));  // February 2023 has 28 bars
    EXPECT_FALSE(NavigateDrillDown(state, -1));
    EXPECT_EQ(state.level, HistoryLevel::Month);
    state.level = HistoryLevel::Year;
    EXPECT_FALSE(NavigateDrillDown(state, 12));
    state.level = HistoryLevel::Day;
    EXPECT_FALSE(NavigateDrillDown(state, 24));
    state.level = HistoryLevel::Hour;
    EXPECT_FALSE(NavigateDrillDown(state, 60));
    EXPECT_EQ(state.position, At(2023, 2, 10, 9, 5));
}

TEST(HistoryChartNavigation, BackAndForwardStepTheLevelsUnit) {
    HistoryChartState state;
    StartChartAt(state, At(2026, 1, 31, 0, 0, 7));
    NavigateBack(state);
    EXPECT_EQ(state.position, At(2026, 1, 30, 23, 59, 7));
    NavigateForward(state);
    EXPECT_EQ(state.position, At(2026, 1, 31, 0, 0, 7));
    state.level = HistoryLevel::Hour;
    NavigateForward(state);
    EXPECT_EQ(state.position, At(2026, 1, 31, 1, 0, 7));
    state.level = HistoryLevel::Day;
    NavigateForward(state);
    EXPECT_EQ(state.position, At(2026, 2, 1, 1, 0, 7));
    state.level = HistoryLevel::Month;
    NavigateBack(state);
    NavigateBack(state);
    EXPECT_EQ(state.position, At(2025, 12, 1, 1, 0, 7));
    state.level = HistoryLevel::Year;
    NavigateForward(state);
    EXPECT_EQ(state.position, At(2026, 12, 1, 1, 0, 7));
    state.position = At(2059, 3, 1);
    EXPECT_TRUE(NavigateForward(state));  // redrawn, but stays
    EXPECT_EQ(state.position, At(2059, 3, 1));
}

}  // namespace
}  // namespace kalvo
