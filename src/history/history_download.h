#pragma once
// The history page without its widgets: the download of the device's ring (progress, cancel at
// a page boundary, exchange begin/end), the erase, the chart drawn from the downloaded copy and
// its navigation, and the CSV text with its saving. The window and kalvo-cli show the
// HistoryView and forward clicks.
//
// User-interface thread only. The download lets the front end pump its events once per page;
// a click on the read button then only asks to cancel, and page changes are refused.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "history/calendar.h"
#include "history/history_chart.h"
#include "history/history_csv.h"
#include "history/history_image.h"
#include "i18n/language.h"
#include "platform/stop_request.h"

namespace kalvo {

class ConnectionWatch;
class DeviceCommands;
class LogSink;
class UiPort;
struct DeviceIdentity;

struct HistoryView {
    int readTag = 0;                 // BitBtn_HIS_Read: 1 (Cancel) while downloading
    bool deleteEnabled = true;       // BitBtn_HIS_Delete
    bool saveEnabled = true;         // BitBtn_HIS_Save_CSV
    bool navigationEnabled = false;  // Panel_HIS_Buttons
    int progressMax = 0;             // ProgressBar_HIS_Read, in pages
    int progressPosition = 0;
    std::string versionMessage;      // Label_HIS_Version_Msg
    ChartModel chart;
};

class HistoryPage {
public:
    // The connection watch gives the access check's flags and pauses the link test during an
    // exchange; `processingTickActive` refuses an exchange asked for from inside a tick. The
    // identity and the language are read at each use.
    HistoryPage(DeviceCommands& commands, LogSink& log, UiPort& ui, const DeviceIdentity& identity,
                const InterfaceLanguage& language, ConnectionWatch& connection,
                std::function<bool()> processingTickActive, StopRequest* stop = nullptr);

    // Starts a download, or asks the running one to stop.
    void BitBtn_HIS_ReadClick();
    // True when the device acknowledged the erase; an unanswered erase shows the error box.
    bool BitBtn_HIS_DeleteClick();
    // False (refused) while a download runs.
    bool PageControl1Changing() const { return !downloading_; }

    // Navigation; each redraws when it moved.
    void BitBtn_HIS_BackClick();
    void BitBtn_HIS_UpClick();
    void BitBtn_HIS_VperedClick();
    void BitBtn_HIS_To_LastClick();
    void CheckBox_HIS_Show_MaxValClick(bool checked);
    // A double click on bar `index` of Series1 or Series2 drills down into it.
    void ChartBarDoubleClick(int index);
    // Draw for the current level and position; never nested.
    void Draw();
    // Positions the chart (kalvo-cli's --chart LEVEL --at TIME).
    void ShowAt(HistoryLevel level, const DeviceDateTime& position);

    // Saves the download's CSV, or while other records are shown their CSV of the period shown.
    CsvSaveResult BitBtn_HIS_Save_CSVClick(CsvFileAccess& files, const CsvFileChooser& chooseFile);

    // The CSV of the other records in the period `chart` shows, its pieces handed to `write`.
    using OtherRecordsCsv =
        std::function<bool(const ChartModel& chart, const std::function<bool(std::string_view)>& write)>;
    // Shows other records than the download (the archive's) with the same levels, navigation
    // and drill-down, drawn with `conversion`, from the minute of their newest record. The
    // download's chart position is kept for ShowDownload.
    void ShowOtherRecords(std::shared_ptr<const HistoryRecordSource> records, const DoseConversion& conversion,
                          std::uint32_t newestTime, OtherRecordsCsv csv);
    void ShowDownload();
    bool ShowingOtherRecords() const { return other_ != nullptr; }

    const HistoryView& View() const { return view_; }
    bool Loaded() const { return store_.Loaded(); }
    bool Downloading() const { return downloading_; }
    const HistoryStore& Store() const { return store_; }
    const HistoryCsv& Csv() const { return csv_; }
    const HistoryChartState& ChartState() const { return chart_; }
    DeviceDateTime DeviceTime() const { return deviceTime_; }
    std::uint32_t CalibrationX100() const { return calibration_; }
    DoseConversion Conversion() const;

    // Called after every page of a download (progress for kalvo-cli).
    std::function<void(int done, int total)> onPage;

private:
    bool Transfer();
    bool AccessCheck();
    bool TickActive() const { return processingTickActive_ && processingTickActive_(); }
    // Something to chart: a completed download, or other records.
    bool Charted() const { return other_ || store_.Loaded(); }
    void UpdateNavigation();

    DeviceCommands& commands_;
    LogSink& log_;
    UiPort& ui_;
    const DeviceIdentity& identity_;
    const InterfaceLanguage& language_;
    ConnectionWatch& connection_;
    std::function<bool()> processingTickActive_;
    // A termination signal's request: an erase not yet sent gives way to it.
    StopRequest* stop_;
    HistoryStore store_;
    HistoryCsv csv_;
    HistoryChartState chart_;
    DeviceDateTime deviceTime_;
    std::uint32_t calibration_ = 100;
    bool downloading_ = false;
    bool cancelRequested_ = false;
    bool drawing_ = false;
    HistoryView view_;

    std::shared_ptr<const HistoryRecordSource> other_;
    DoseConversion otherConversion_;
    OtherRecordsCsv otherCsv_;
    // The download's position and chart while other records are shown.
    HistoryChartState downloadChart_;
    ChartModel downloadModel_;
};

}  // namespace kalvo
