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
    std::optional<ArchiveRecordSource> records = archive->LoadRecords(shown);
    if (!records || records->RecordCount() == 0) return fail(kArchiveNoRecordsOf, shown);

    serial_ = shown;
    const DoseConversion conversion = records->Conversion();
    const std::uint32_t newest = records->NewestTime();
    history_.ShowOtherRecords(
        std::make_shared<const ArchiveRecordSource>(std::move(*records)), conversion, newest,
        [archive, shown](const ChartModel& chart, const std::function<bool(std::string_view)>& write) {
            return archive->WriteCsv(PeriodQuery(shown, chart), write);
        });
    return true;
}

void HistoryArchiveView::Hide() { history_.ShowDownload(); }

}  // namespace kalvo
