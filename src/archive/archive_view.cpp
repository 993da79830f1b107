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
        std::uint32_t newest = 0;
        for (const ArchiveDeviceSummary& device : archive->Devices()) {
            if (device.recordCount > 0 && (shown.empty() || device.lastTime >= newest)) {
                shown = device.serial;
                newest = device.lastTime;
            }
        }
        if (shown.empty()) return fail(kArchiveEmpty);
    }
    std::optional<ArchiveRecordSource> records = archive->LoadRecords(shown);
    if (!records || records->RecordCount() == 0) return fail(kArchiveNoRecordsOf, shown);

    serial_ = shown;
    const DoseConversion conversion = records->Conversion();
    const std::uint32_t newest = records->NewestTime();
    history_.ShowOtherRecords(
        std::make_shared<const ArchiveRecordSource>(std::move(*records)), conversion, newest,
        [archive, shown](std::uint32_t from, std::uint32_t to, const HistoryCsvSaver::CsvTextWriter& write) {
            return archive->WriteCsv({shown, from, to}, write);
        });
    return true;
}

void HistoryArchiveView::Hide() { history_.ShowDownload(); }

}  // namespace kalvo
