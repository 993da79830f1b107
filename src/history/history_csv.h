#pragma once
// The CSV text of a download and the saving of it to a file the user chooses. The text is built
// while the history downloads; saving only writes it out.
//
// User-interface thread only.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "history/dose_conversion.h"
#include "history/history_image.h"
#include "i18n/language.h"
#include "platform/file_replacement.h"
#include "platform/ui_port.h"

namespace kalvo {

// Lines are kept only while used length + line + CR LF stays below this.
inline constexpr std::size_t kCsvCapacity = 0x800000;
inline constexpr std::string_view kCsvHeaderLine =
    "TIME_IN_SECOND_FROM_2000;DATE;TIME;TIME_LENGTH_SECOND;NUMBER_OF_PULSES;SENSOR_COUNT;CALIBRATION_x100;MUL_VALUE;"
    "DIV_VALUE;RESULT_FORMULE";

// One record's line (without CR LF) for spreadsheet row `row`.
std::string HistoryCsvLine(std::uint32_t row, std::uint32_t startTime, std::uint16_t length, std::uint32_t pulses,
                           const DoseConversion& conversion);

class HistoryCsv {
public:
    // Empty text, the header line, row counter 1.
    void Reset();
    // Appends the line of one record; false when it no longer fits (then it is left out and
    // the row counter stays, so later formulas still name their own rows).
    bool AddRecord(std::uint32_t startTime, std::uint16_t length, std::uint32_t pulses,
                   const DoseConversion& conversion);
    // The exportable records of one downloaded page, slot 255 down to slot 0.
    void AddPage(const HistoryImage& image, std::uint32_t page, const DoseConversion& conversion);

    const std::string& Text() const { return text_; }
    std::size_t UsedLength() const { return text_.size(); }
    // Spreadsheet row of the last line written; 1 after the header.
    std::uint32_t Row() const { return row_; }
    // Lines left out for want of room since the last reset.
    std::uint32_t DroppedLines() const { return dropped_; }

private:
    bool Append(std::string_view line);

    std::string text_;
    std::uint32_t row_ = 0;
    std::uint32_t dropped_ = 0;
};

// What the save dialog is prepared with.
struct CsvSaveDialog {
    std::string fileName;  // the last file name
    std::string defaultExtension;
    std::string filter;
    std::string title;
};

// The file system as the save needs it; one file at a time. An existing file is replaced only
// once the new text is complete, so a failed save leaves it as it was.
class CsvFileAccess {
public:
    virtual ~CsvFileAccess() = default;
    // What the path names, symbolic links followed.
    virtual FileTarget Inspect(const std::string& path) = 0;
    // False when an existing file may not be replaced (its folder takes no new file).
    virtual bool CanReplace(const std::string& path) = 0;
    // Opens the new text's file, to take the place of `path` on Close.
    virtual bool Create(const std::string& path) = 0;
    virtual bool Write(std::string_view data) = 0;
    // keep: puts the written text in place; false when it may not have reached the file. Without
    // keep the new text is dropped and the old file stays.
    virtual bool Close(bool keep) = 0;
};

// CsvFileAccess on the local file system.
class LocalCsvFileAccess : public CsvFileAccess {
public:
    FileTarget Inspect(const std::string& path) override;
    bool CanReplace(const std::string& path) override;
    bool Create(const std::string& path) override;
    bool Write(std::string_view data) override;
    bool Close(bool keep) override;

private:
    FileReplacement file_;
};

enum class CsvSaveResult { NotLoaded, Cancelled, NotRewritten, NoAccess, OpenFailed, CreateFailed, WriteFailed, Saved };

// The file the user picks in the save dialog; nullopt when cancelled.
using CsvFileChooser = std::function<std::optional<std::string>(const CsvSaveDialog& dialog)>;

// BitBtn_HIS_Save_CSVClick without the widgets: messages and the rewrite question go to the UI
// port, the file operations to CsvFileAccess. Keeps the last file name between saves.
class HistoryCsvSaver {
public:
    HistoryCsvSaver(UiPort& ui, CsvFileAccess& files) : ui_(ui), files_(files) {}

    CsvSaveResult Save(bool historyLoaded, const HistoryCsv& csv, InterfaceLanguage language,
                       const CsvFileChooser& chooseFile);
    // The same with the text written by `writeText` into the opened file (a text streamed from
    // elsewhere, such as the archive's); false from it is a failed write.
    CsvSaveResult Save(bool historyLoaded, const std::function<bool(CsvFileAccess& file)>& writeText,
                       InterfaceLanguage language, const CsvFileChooser& chooseFile);

    static CsvSaveDialog Dialog(InterfaceLanguage language, const std::string& lastFileName);
    // Empty at start; the file of every attempt that got a file opened.
    const std::string& LastFileName() const { return lastFileName_; }

private:
    UiPort& ui_;
    CsvFileAccess& files_;
    std::string lastFileName_;
};

}  // namespace kalvo
