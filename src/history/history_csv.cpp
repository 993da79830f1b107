#include "history/history_csv.h"

#ifdef _WIN32
#include <io.h>

#include "platform/win32_text.h"
#else
#include <unistd.h>
#endif

#include <filesystem>
#include <system_error>

#include "history/calendar.h"
#include "history/history_texts.h"

namespace kalvo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

std::string HistoryCsvLine(std::uint32_t row, std::uint32_t startTime, std::uint16_t length, std::uint32_t pulses,
                           const DoseConversion& conversion) {
    const DeviceDateTime start = SecondsToDateTime(startTime);
    const std::string n = std::to_string(row);
    std::string line;
    line += std::to_string(startTime) + ";";
    line += DateText(start) + ";";
    line += TimeText(start) + ";";
    line += std::to_string(length) + ";";
    line += std::to_string(pulses) + ";";
    line += std::to_string(conversion.sensors) + ";";
    line += std::to_string(conversion.calibrationX100) + ";";
    line += "36;";
    line += std::to_string(conversion.sensitivity) + ";";
    if (length != 0) {
        line += "=E" + n + "*G" + n + "*H" + n + "/(D" + n + "*F" + n + "*I" + n + ")";
    } else {
        line += "0";
    }
    return line;
}

bool HistoryCsv::Append(std::string_view line) {
    if (text_.size() + line.size() + kLineEnd.size() >= kCsvCapacity) return false;
    text_ += line;
    text_ += kLineEnd;
    return true;
}

void HistoryCsv::Reset() {
    text_.clear();
    dropped_ = 0;
    Append(kCsvHeaderLine);
    row_ = 1;
}

bool HistoryCsv::AddRecord(std::uint32_t startTime, std::uint16_t length, std::uint32_t pulses,
                           const DoseConversion& conversion) {
    if (!Append(HistoryCsvLine(row_ + 1, startTime, length, pulses, conversion))) {
        ++dropped_;
        return false;
    }
    ++row_;
    return true;
}

void HistoryCsv::AddPage(const HistoryImage& image, std::uint32_t page, const DoseConversion& conversion) {
    if (page >= HistoryImage::kSlots / kHistoryRecordsPerPage) return;
    for (std::uint32_t slot = kHistoryRecordsPerPage; slot-- > 0;) {
        HistoryRecord record = image.Record(static_cast<std::uint16_t>(page * kHistoryRecordsPerPage + slot));
        if (record.Exportable()) AddRecord(record.startTime, record.length, record.pulses, conversion);
    }
}

FileTarget LocalCsvFileAccess::Inspect(const std::string& path) { return InspectFileTarget(path); }

bool LocalCsvFileAccess::CanReplace(const std::string& path) {
    std::string target = FollowLinks(path);
    if (target.empty()) return false;
#ifdef _WIN32
    std::filesystem::path folder = std::filesystem::path(Widen(target)).parent_path();
    return ::_waccess(folder.empty() ? L"." : folder.c_str(), 2) == 0;
#else
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    return ::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0;
#endif
}

bool LocalCsvFileAccess::Create(const std::string& path) { return file_.Begin(path); }

bool LocalCsvFileAccess::Write(std::string_view data) { return file_.Write(data); }

bool LocalCsvFileAccess::Close(bool keep) {
    if (keep) return file_.Commit();
    file_.Discard();
    return false;
}

CsvSaveDialog HistoryCsvSaver::Dialog(InterfaceLanguage language, const std::string& lastFileName) {
    return {lastFileName, "csv", kCsvDialogFilter.Pick(language), kCsvDialogTitle.Pick(language)};
}

CsvSaveResult HistoryCsvSaver::Save(bool historyLoaded, const HistoryCsv& csv, InterfaceLanguage language,
                                    const CsvFileChooser& chooseFile) {
    return Save(historyLoaded, [&csv](CsvFileAccess& file) { return file.Write(csv.Text()); }, language, chooseFile);
}

CsvSaveResult HistoryCsvSaver::Save(bool historyLoaded, const std::function<bool(CsvFileAccess& file)>& writeText,
                                    InterfaceLanguage language, const CsvFileChooser& chooseFile) {
    if (!historyLoaded) {
        ui_.ShowMessage(MessageKind::Error, kCsvNotLoaded.Pick(language));
        return CsvSaveResult::NotLoaded;
    }
    std::optional<std::string> chosen = chooseFile ? chooseFile(Dialog(language, lastFileName_)) : std::nullopt;
    if (!chosen) return CsvSaveResult::Cancelled;
    const std::string& name = *chosen;

    const FileTarget target = files_.Inspect(name);
    // A device, pipe or folder is never written to or removed.
    if (target == FileTarget::NotRegular) {
        ui_.ShowMessage(MessageKind::Error, kCsvOpenError.Pick(language) + name);
        return CsvSaveResult::OpenFailed;
    }
    if (target == FileTarget::Regular) {
        if (!ui_.ConfirmWarning(kCsvExistsStart.Pick(language) + name + kCsvExistsEnd.Pick(language)))
            return CsvSaveResult::NotRewritten;
        if (!files_.CanReplace(name)) {
            ui_.ShowMessage(MessageKind::Error, kCsvNoAccess.Pick(language) + name);
            return CsvSaveResult::NoAccess;
        }
        if (!files_.Create(name)) {
            ui_.ShowMessage(MessageKind::Error, kCsvOpenError.Pick(language) + name);
            return CsvSaveResult::OpenFailed;
        }
    } else if (!files_.Create(name)) {
        ui_.ShowMessage(MessageKind::Error, kCsvCreateError.Pick(language) + "\r\n" + name + "\r\n");
        return CsvSaveResult::CreateFailed;
    }

    bool written = writeText(files_);
    // The old file is replaced only by a complete new one; a failed sync or rename is a failed
    // write too.
    written = files_.Close(written) && written;
    lastFileName_ = name;
    if (!written) {
        ui_.ShowMessage(MessageKind::Error, kCsvWriteError.Pick(language) + name);
        return CsvSaveResult::WriteFailed;
    }
    return CsvSaveResult::Saved;
}

}  // namespace kalvo
