#include "measure/history_download.h"

#include "app/context.h"
#include "measure/history_access.h"
#include "measure/history_texts.h"
#include "settings/device_parameters.h"

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
    explicit LinkTestPause(ConnectionManager& connection)
        : connection_(connection), saved_(connection.linkTestEnabled) {
        connection_.linkTestEnabled = false;
    }
    ~LinkTestPause() { connection_.linkTestEnabled = saved_; }
    LinkTestPause(const LinkTestPause&) = delete;
    LinkTestPause& operator=(const LinkTestPause&) = delete;

private:
    ConnectionManager& connection_;
    bool saved_;
};

}  // namespace

HistoryPage::HistoryPage(AppContext& context) : context_(context) {
    view_.chart.title = {std::string(kHistoryChartDesignTitle)};
}

DoseConversion HistoryPage::Conversion() const { return DoseConversionOf(context_.identity, calibration_); }

bool HistoryPage::AccessCheck() {
    HistoryAccess access = HistoryAccessCheck(context_.connection.DeviceConnected(), context_.tick.DeviceRecognised(),
                                              context_.identity, context_.language);
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
    view_.chart = WaitingChart(context_.language);

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
    LinkTestPause pause(context_.connection);
    csv_.Reset();
    auto fail = [this](const TextPair& text) {
        context_.ui.ShowMessage(MessageKind::Error, text.Pick(context_.language));
        view_.progressPosition = 0;
        return false;
    };

    std::uint32_t values[4] = {};
    TimeRecord time{};
    std::uint32_t calibration = 0;
    if (context_.tick.Active() || !AccessCheck() ||
        !SetDeviceParameter(context_, param::kCommand, command::kExchangeBegin) ||
        !context_.commands.ReadDeviceTime(time))
        return fail(kHistoryReadError);
    deviceTime_ = DeviceDateTime::FromBytes(time);
    if (!GetDeviceParameter(context_, param::kCalibration, &calibration)) return fail(kHistoryReadError);
    calibration_ = ClampCalibrationX100(calibration);
    const std::uint16_t ring[] = {param::kRingGeometry, param::kRingCounts, param::kRingIndices, param::kRingFlags};
    for (int i = 0; i < 4; ++i)
        if (!GetDeviceParameter(context_, ring[i], &values[i])) return fail(kHistoryReadError);

    HistoryHeader header = HistoryHeader::FromParameters(values[0], values[1], values[2], values[3]);
    store_.SetHeader(header);
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(header);
    if (!plan) {
        context_.ui.ShowMessage(MessageKind::Error, kHistoryFormatError.Pick(context_.language));
        return false;
    }

    const DoseConversion conversion = Conversion();
    DevicePairs device(context_.commands);
    view_.progressMax = static_cast<int>(plan->pageCount);
    view_.progressPosition = 0;
    for (std::uint32_t j = 0; j < plan->pageCount; ++j) {
        if (cancelRequested_) {
            context_.ui.ShowMessage(MessageKind::Warning, kHistoryReadCancelled.Pick(context_.language));
            view_.progressPosition = 0;
            SetDeviceParameter(context_, param::kCommand, command::kExchangeEnd);
            return false;
        }
        std::uint32_t page = plan->PageAt(j);
        if (!store_.ReadPage(page, device)) return fail(kHistoryReadError);
        csv_.AddPage(store_.Image(), page, conversion);
        view_.progressPosition = static_cast<int>(j);
        if (onPage) onPage(static_cast<int>(j) + 1, static_cast<int>(plan->pageCount));
        context_.ui.Pump();
    }
    view_.progressPosition = 0;
    store_.MarkLoaded();
    SetDeviceParameter(context_, param::kCommand, command::kExchangeEnd);
    return true;
}

bool HistoryPage::BitBtn_HIS_DeleteClick() {
    if (!context_.ui.Confirm(kHistoryDeleteQuestion.Pick(context_.language))) return false;
    LinkTestPause pause(context_.connection);
    StopRequest::WriteInProgress writing(&context_.stop);
    bool erased = false;
    if (!context_.tick.Active() && AccessCheck() &&
        SetDeviceParameter(context_, param::kCommand, command::kExchangeBegin)) {
        // An erase the device never acknowledged may not have happened: say so, and still close
        // the exchange. A stop asked for meanwhile leaves the history as it is.
        if (context_.stop.Requested())
            context_.log.LogError("History erase stopped: history not erased");
        else
            erased = SetDeviceParameter(context_, param::kCommand, command::kEraseHistory);
        SetDeviceParameter(context_, param::kCommand, command::kExchangeEnd);
    }
    if (!erased) context_.ui.ShowMessage(MessageKind::Error, kHistoryDeleteError.Pick(context_.language));
    view_.progressPosition = 0;
    return erased;
}

void HistoryPage::Draw() {
    if (drawing_ || !Charted()) return;
    drawing_ = true;
    // A draw over the image takes well under a millisecond, and over records in memory not much
    // more, so it does not pump events and cannot nest.
    if (other_)
        view_.chart = DrawHistoryChart(*other_, chart_.Request(otherConversion_, context_.language));
    else
        view_.chart = DrawHistoryChart(store_, chart_.Request(Conversion(), context_.language));
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
    HistoryCsvSaver saver(context_.ui, files);
    if (other_ && otherCsv_) {
        return saver.Save(
            !view_.chart.bars.empty(),
            [this](CsvFileAccess& file) {
                return otherCsv_(view_.chart, [&file](std::string_view piece) { return file.Write(piece); });
            },
            context_.language, chooseFile);
    }
    return saver.Save(store_.Loaded(), csv_, context_.language, chooseFile);
}

}  // namespace kalvo
