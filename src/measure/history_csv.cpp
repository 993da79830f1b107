#include "measure/history_csv.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "measure/calendar.h"
#include "measure/history_texts.h"

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

LocalCsvFileAccess::~LocalCsvFileAccess() {
    if (file_) std::fclose(file_);
}

bool LocalCsvFileAccess::Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

bool LocalCsvFileAccess::Remove(const std::string& path) {
    std::error_code error;
    // Only a file is replaced; a folder of that name is not ours to remove.
    if (std::filesystem::is_directory(path, error)) return false;
    return std::filesystem::remove(path, error) && !error;
}

bool LocalCsvFileAccess::Create(const std::string& path) {
    if (file_) Close();
    // "x": never truncate a file that appeared after the check.
    file_ = std::fopen(path.c_str(), "wbx");
    return file_ != nullptr;
}

bool LocalCsvFileAccess::Write(std::string_view data) {
    if (!file_) return false;
    return std::fwrite(data.data(), 1, data.size(), file_) == data.size() && std::fflush(file_) == 0;
}

bool LocalCsvFileAccess::Close() {
    if (!file_) return true;
    bool ok = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok;
}

CsvSaveDialog HistoryCsvSaver::Dialog(InterfaceLanguage language, const std::string& lastFileName) {
    return {lastFileName, "csv", kCsvDialogFilter.Pick(language), kCsvDialogTitle.Pick(language)};
}

CsvSaveResult HistoryCsvSaver::Save(bool historyLoaded, const HistoryCsv& csv, InterfaceLanguage language,
                                    const CsvFileChooser& chooseFile) {
    if (!historyLoaded) {
        ui_.ShowMessage(MessageKind::Error, kCsvNotLoaded.Pick(language));
        return CsvSaveResult::NotLoaded;
    }
    std::optional<std::string> chosen = chooseFile ? chooseFile(Dialog(language, lastFileName_)) : std::nullopt;
    if (!chosen) return CsvSaveResult::Cancelled;
    const std::string& name = *chosen;

    if (files_.Exists(name)) {
        if (!ui_.ConfirmWarning(kCsvExistsStart.Pick(language) + name + kCsvExistsEnd.Pick(language)))
            return CsvSaveResult::NotRewritten;
        if (!files_.Remove(name)) {
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

    bool written = files_.Write(csv.Text());
    // A failed close may mean the data never reached the disk: that is a failed write too.
    written = files_.Close() && written;
    lastFileName_ = name;
    if (!written) {
        ui_.ShowMessage(MessageKind::Error, kCsvWriteError.Pick(language) + name);
        return CsvSaveResult::WriteFailed;
    }
    return CsvSaveResult::Saved;
}

}  // namespace kalvo
