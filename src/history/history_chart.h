#pragma once
// The history chart as data: what Draw puts into the three bar series for the current level and
// position, and the navigation between periods. A Qt widget and a console printer render the
// same ChartModel.
//
// User-interface thread only.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "history/calendar.h"
#include "history/dose_conversion.h"
#include "history/history_image.h"
#include "i18n/language.h"

namespace kalvo {

enum class HistoryLevel { Minute = 0, Hour = 1, Day = 2, Month = 3, Year = 4 };

enum class BarColour { Lime, Green, Fuchsia, Yellow, Blue };
// 0xRRGGBB.
std::uint32_t BarColourRgb(BarColour colour);
std::string_view BarColourName(BarColour colour);

// Series3's marker: the bar's records cover all of it, part of it, or nothing.
enum class BarCoverage { Full, Partial, Empty };

struct ChartPoint {
    std::uint32_t value = 1;
    BarColour colour = BarColour::Blue;
    bool operator==(const ChartPoint&) const = default;
};

struct ChartBar {
    std::string label;
    std::uint32_t seconds = 0;  // the bar's length
    std::uint32_t coveredSeconds = 0;
    std::uint32_t average = 0;  // 0 when empty
    std::uint32_t maximum = 0;  // never below the average; 0 when empty
    BarCoverage coverage = BarCoverage::Empty;
    // The three series, drawn over each other in this order (series3 in front). series1 holds
    // the maximum (or a stub when it is not shown), series2 the average, series3 the marker.
    ChartPoint series1;
    ChartPoint series2;
    ChartPoint series3;
};

struct ChartModel {
    std::vector<std::string> title;  // one line while waiting, two after a draw
    HistoryLevel level = HistoryLevel::Minute;
    std::uint32_t startTime = 0;  // device seconds of the first bar's first second
    std::vector<ChartBar> bars;
};

struct ChartRequest {
    HistoryLevel level = HistoryLevel::Minute;
    DeviceDateTime position;
    DoseConversion conversion;
    bool showMaximum = false;
    InterfaceLanguage language = InterfaceLanguage::English;
};

// The chart before and during a download: the waiting title, no bars.
ChartModel WaitingChart(InterfaceLanguage language);

// Draw: the bars of the period that contains the position. `pump` runs once per record walked.
ChartModel DrawHistoryChart(const HistoryRecordSource& records, const ChartRequest& request,
                            const std::function<void()>& pump = {});

std::string ChartTitleLine1(HistoryLevel level, const DeviceDateTime& position, InterfaceLanguage language);
std::string ChartTitleLine2(const DoseConversion& conversion, InterfaceLanguage language);
// Minute 6, hour 60, day 24, month the days of the position's month, year 12.
std::uint32_t BarCount(HistoryLevel level, const DeviceDateTime& position);
// The first second of the period shown (the position with the finer fields reset).
DeviceDateTime PeriodStart(HistoryLevel level, const DeviceDateTime& position);

// Plain-text rendering for the console: the title lines, then one line per bar,
// "label;average;maximum;covered_seconds;marker" with the marker full, partial or empty.
std::string ChartModelText(const ChartModel& model);

// Navigation state of the history page; persists while the history stays loaded.
struct HistoryChartState {
    HistoryLevel level = HistoryLevel::Minute;
    DeviceDateTime position;      // the chart's position
    DeviceDateTime downloadTime;  // device time taken at the download
    bool showMaximum = false;     // CheckBox_HIS_Show_MaxVal

    ChartRequest Request(const DoseConversion& conversion, InterfaceLanguage language) const {
        return {level, position, conversion, showMaximum, language};
    }
};

// After a completed download: minute level at the device time of the download.
void StartChartAt(HistoryChartState& state, const DeviceDateTime& deviceTime);
// Each returns true when the chart is to be redrawn.
bool NavigateUp(HistoryChartState& state);
// Descends into bar `bar` of the chart drawn for the state; false at the minute level or for a
// bar that the period does not have.
bool NavigateDrillDown(HistoryChartState& state, int bar);
bool NavigateBack(HistoryChartState& state);
bool NavigateForward(HistoryChartState& state);
bool NavigateToLast(HistoryChartState& state);

}  // namespace kalvo
