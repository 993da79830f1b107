#include "archive/archive_view.h"

#include "archive/archive_texts.h"

namespace kalvo {

bool HistoryArchiveView::Show(const std::string& serial) {
    auto fail = [this](const TextPair& text, const std::string& detail = {}) {
        ui_.ShowMessage(MessageKind::Information, text.Pick(language_) + detail);
        return false;
    };
    if (history_.Downloading()) return false;
    struct Opened {
        std::shared_ptr<HistoryArchive> archive;
        std::string error;
        std::vector<ArchiveNotice> notices;
        std::string serial;
        std::optional<ArchiveDeviceHead> head;
        bool empty = false;
    };
    auto open = [&path = path_, &serial, language = language_] {
        Opened opened;
        opened.archive = HistoryArchive::Open(path, {nullptr, nullptr, language, &opened.notices}, &opened.error);
        if (!opened.archive) return opened;
        opened.serial = serial;
        if (opened.serial.empty()) {
            std::optional<std::string> latest = opened.archive->LatestSerial();
            opened.empty = !latest;
            if (!latest) return opened;
            opened.serial = *latest;
        }
        opened.head = opened.archive->Head(opened.serial);
        return opened;
    };
    Opened opened = worker_ ? worker_->Call(ui_, open) : open();
    ReportArchiveNotices(opened.notices, &ui_, &log_);
    if (!opened.archive) {
        log_.LogError("Archive: " + opened.error);
        return fail(kArchiveUnavailable, "\r\n" + opened.error);
    }
    if (opened.empty) return fail(kArchiveEmpty);
    const std::string shown = opened.serial;
    // Shared with the CSV writer the page keeps, so a save reads the same file later; from here
    // on used by this thread only.
    std::shared_ptr<HistoryArchive> archive = std::move(opened.archive);
    // Only the period shown is read, at every draw.
    const std::optional<ArchiveDeviceHead>& head = opened.head;
    if (!head || !head->hasRecords) return fail(kArchiveNoRecordsOf, shown);

    serial_ = shown;
    auto records = std::make_shared<ArchivePeriodSource>(archive, shown, *head);
    // Reaches the context's log and UI port, which outlive the page that holds the source.
    records->onError = [&ui = ui_, &log = log_, &language = language_](const std::string& why) {
        log.LogError("Archive: " + why);
        ui.ShowMessage(MessageKind::Information, kArchiveUnavailable.Pick(language) + "\r\n" + why);
    };
    history_.ShowOtherRecords(
        records, head->conversion, head->newestTime,
        [archive, shown](const ChartModel& chart, const std::function<bool(std::string_view)>& write) {
            return archive->WriteCsv(PeriodQuery(shown, chart), write);
        });
    return true;
}

void HistoryArchiveView::Hide() { history_.ShowDownload(); }

}  // namespace kalvo
