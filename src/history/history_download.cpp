#include "history/history_download.h"

#include "device/connection_watch.h"
#include "device/device_parameters.h"
#include "device/history_access.h"
#include "history/history_texts.h"
#include "link/device_commands.h"
#include "platform/log_sink.h"
#include "platform/ui_port.h"

namespace kalvo {

namespace {

// The device side of the record fetch: 32-byte reads of the external flash, silently.
class DevicePairs : public HistoryPairSource {
public:
    explicit DevicePairs(DeviceCommands& commands) : commands_(commands) {}
    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
        return commands_.ReadEflash(address, buffer, length, false);
    }

private:
    DeviceCommands& commands_;
};

// Switches the periodic link test off for a long exchange and restores it on every exit.
class LinkTestPause {
public:
    explicit LinkTestPause(ConnectionWatch& connection)
        : connection_(connection), saved_(connection.LinkTestEnabled()) {
        connection_.SetLinkTestEnabled(false);
    }
    ~LinkTestPause() { connection_.SetLinkTestEnabled(saved_); }
    LinkTestPause(const LinkTestPause&) = delete;
    LinkTestPause& operator=(const LinkTestPause&) = delete;

private:
    ConnectionWatch& connection_;
    bool saved_;
};

}  // namespace

HistoryPage::HistoryPage(DeviceCommands& commands, LogSink& log, UiPort& ui, const DeviceIdentity& identity,
                         const InterfaceLanguage& language, ConnectionWatch& connection,
                         std::function<bool()> processingTickActive, StopRequest* stop)
    : commands_(commands),
      log_(log),
      ui_(ui),
      identity_(identity),
      language_(language),
      connection_(connection),
      processingTickActive_(std::move(processingTickActive)),
      stop_(stop) {
    view_.chart.title = {std::string(kHistoryChartDesignTitle)};
}

DoseConversion HistoryPage::Conversion() const { return DoseConversionOf(identity_, calibration_); }

bool HistoryPage::AccessCheck() {
    HistoryAccess access =
        HistoryAccessCheck(connection_.DeviceConnected(), connection_.DeviceRecognised(), identity_, language_);
    if (access.label) view_.versionMessage = *access.label;
    return access.passes;
}

void HistoryPage::BitBtn_HIS_ReadClick() {
    if (downloading_) {
        cancelRequested_ = true;
        return;
    }
    downloading_ = true;
    cancelRequested_ = false;
    view_.deleteEnabled = view_.navigationEnabled = view_.saveEnabled = false;
    view_.readTag = 1;

    // A download shows itself: whoever showed other records shows them again afterwards.
    ShowDownload();
    store_.BeginDownload();
    calibration_ = 100;
    view_.chart = WaitingChart(language_);

    Transfer();

    if (store_.Loaded()) {
        StartChartAt(chart_, deviceTime_);
        Draw();
    }
    view_.readTag = 0;
    downloading_ = false;
    view_.deleteEnabled = view_.saveEnabled = true;
    UpdateNavigation();
}

void HistoryPage::UpdateNavigation() { view_.navigationEnabled = !downloading_ && Charted(); }

void HistoryPage::ShowOtherRecords(std::shared_ptr<const HistoryRecordSource> records, const DoseConversion& conversion,
                                   std::uint32_t newestTime, OtherRecordsCsv csv) {
    if (downloading_ || !records) return;
    if (!other_) {
        downloadChart_ = chart_;
        downloadModel_ = view_.chart;
    }
    other_ = std::move(records);
    otherConversion_ = conversion;
    otherCsv_ = std::move(csv);
    const bool showMaximum = chart_.showMaximum;
    chart_ = HistoryChartState{};
    chart_.showMaximum = showMaximum;
    StartChartAt(chart_, SecondsToDateTime(newestTime));
    UpdateNavigation();
    Draw();
}

void HistoryPage::ShowDownload() {
    if (!other_) return;
    other_.reset();
    otherCsv_ = nullptr;
    downloadChart_.showMaximum = chart_.showMaximum;
    chart_ = downloadChart_;
    UpdateNavigation();
    view_.chart = std::move(downloadModel_);
    // Redrawn: the maximum may have been switched meanwhile.
    Draw();
}

bool HistoryPage::Transfer() {
    LinkTestPause pause(connection_);
    csv_.Reset();
    auto fail = [this](const TextPair& text) {
        ui_.ShowMessage(MessageKind::Error, text.Pick(language_));
        view_.progressPosition = 0;
        return false;
    };

    std::uint32_t values[4] = {};
    TimeRecord time{};
    std::uint32_t calibration = 0;
    if (TickActive() || !AccessCheck() ||
        !SetDeviceParameter(commands_, log_, param::kCommand, command::kExchangeBegin) ||
        !commands_.ReadDeviceTime(time))
        return fail(kHistoryReadError);
    deviceTime_ = DeviceDateTime::FromBytes(time);
    if (!GetDeviceParameter(commands_, log_, param::kCalibration, &calibration)) return fail(kHistoryReadError);
    calibration_ = ClampCalibrationX100(calibration);
    const std::uint16_t ring[] = {param::kRingGeometry, param::kRingCounts, param::kRingIndices, param::kRingFlags};
    for (int i = 0; i < 4; ++i)
        if (!GetDeviceParameter(commands_, log_, ring[i], &values[i])) return fail(kHistoryReadError);

    HistoryHeader header = HistoryHeader::FromParameters(values[0], values[1], values[2], values[3]);
    store_.SetHeader(header);
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(header);
    if (!plan) {
        ui_.ShowMessage(MessageKind::Error, kHistoryFormatError.Pick(language_));
        return false;
    }

    const DoseConversion conversion = Conversion();
    DevicePairs device(commands_);
    view_.progressMax = static_cast<int>(plan->pageCount);
    view_.progressPosition = 0;
    for (std::uint32_t j = 0; j < plan->pageCount; ++j) {
        if (cancelRequested_) {
            ui_.ShowMessage(MessageKind::Warning, kHistoryReadCancelled.Pick(language_));
            view_.progressPosition = 0;
            SetDeviceParameter(commands_, log_, param::kCommand, command::kExchangeEnd);
            return false;
        }
        std::uint32_t page = plan->PageAt(j);
        if (!store_.ReadPage(page, device)) return fail(kHistoryReadError);
        csv_.AddPage(store_.Image(), page, conversion);
        view_.progressPosition = static_cast<int>(j);
        if (onPage) onPage(static_cast<int>(j) + 1, static_cast<int>(plan->pageCount));
        ui_.Pump();
    }
    view_.progressPosition = 0;
    store_.MarkLoaded();
    SetDeviceParameter(commands_, log_, param::kCommand, command::kExchangeEnd);
    return true;
}

bool HistoryPage::BitBtn_HIS_DeleteClick() {
    if (!ui_.Confirm(kHistoryDeleteQuestion.Pick(language_))) return false;
    LinkTestPause pause(connection_);
    StopRequest::WriteInProgress writing(stop_);
    bool erased = false;
    if (!TickActive() && AccessCheck() &&
        SetDeviceParameter(commands_, log_, param::kCommand, command::kExchangeBegin)) {
        // An erase the device never acknowledged may not have happened: say so, and still close
        // the exchange. A stop asked for meanwhile leaves the history as it is.
        if (stop_ && stop_->Requested())
            log_.LogError("History erase stopped: history not erased");
        else
            erased = SetDeviceParameter(commands_, log_, param::kCommand, command::kEraseHistory);
        SetDeviceParameter(commands_, log_, param::kCommand, command::kExchangeEnd);
    }
    if (!erased) ui_.ShowMessage(MessageKind::Error, kHistoryDeleteError.Pick(language_));
    view_.progressPosition = 0;
    return erased;
}

void HistoryPage::Draw() {
    if (drawing_ || !Charted()) return;
    drawing_ = true;
    // A draw over the image takes well under a millisecond, and over records in memory not much
    // more, so it does not pump events and cannot nest.
    if (other_)
        view_.chart = DrawHistoryChart(*other_, chart_.Request(otherConversion_, language_));
    else
        view_.chart = DrawHistoryChart(store_, chart_.Request(Conversion(), language_));
    drawing_ = false;
}

void HistoryPage::ShowAt(HistoryLevel level, const DeviceDateTime& position) {
    chart_.level = level;
    chart_.position = position;
    Draw();
}

void HistoryPage::BitBtn_HIS_BackClick() {
    if (Charted() && NavigateBack(chart_)) Draw();
}
void HistoryPage::BitBtn_HIS_UpClick() {
    if (Charted() && NavigateUp(chart_)) Draw();
}
void HistoryPage::BitBtn_HIS_VperedClick() {
    if (Charted() && NavigateForward(chart_)) Draw();
}
void HistoryPage::BitBtn_HIS_To_LastClick() {
    if (Charted() && NavigateToLast(chart_)) Draw();
}
void HistoryPage::CheckBox_HIS_Show_MaxValClick(bool checked) {
    chart_.showMaximum = checked;
    Draw();
}
void HistoryPage::ChartBarDoubleClick(int index) {
    if (Charted() && NavigateDrillDown(chart_, index)) Draw();
}

CsvSaveResult HistoryPage::BitBtn_HIS_Save_CSVClick(CsvFileAccess& files, const CsvFileChooser& chooseFile) {
    HistoryCsvSaver saver(ui_, files);
    if (other_ && otherCsv_) {
        return saver.Save(
            !view_.chart.bars.empty(),
            [this](CsvFileAccess& file) {
                return otherCsv_(view_.chart, [&file](std::string_view piece) { return file.Write(piece); });
            },
            language_, chooseFile);
    }
    return saver.Save(store_.Loaded(), csv_, language_, chooseFile);
}

}  // namespace kalvo
