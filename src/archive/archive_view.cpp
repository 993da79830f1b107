#include "archive/archive_view.h"

#include "archive/archive_texts.h"

namespace kalvo {

bool HistoryArchiveView::Show(const std::string& serial) {
    auto fail = [this](const TextPair& text, const std::string& detail = {}) {
        ui_.ShowMessage(MessageKind::Information, text.Pick(language_) + detail);
        return false;
    };
    if (history_.Downloading()) return false;
    std::string error;
    // Shared with the CSV writer the page keeps, so a save reads the same file later.
    std::shared_ptr<HistoryArchive> archive = HistoryArchive::Open(path_, {&ui_, &log_, language_}, &error);
    if (!archive) {
        log_.LogError("Archive: " + error);
        return fail(kArchiveUnavailable, "\r\n" + error);
    }

    std::string shown = serial;
    if (shown.empty()) {
        std::optional<std::string> latest = archive->LatestSerial();
        if (!latest) return fail(kArchiveEmpty);
        shown = *latest;
    }
    // Only the period shown is read, at every draw.
    std::optional<ArchiveDeviceHead> head = archive->Head(shown);
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
