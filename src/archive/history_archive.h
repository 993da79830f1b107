#pragma once
// The history archive: every download of every device kept in one SQLite file in the user's
// data folder, so the history outlives the device's ring (which wraps and can be erased).
// Devices are keyed by serial number, records by (device, start time, occurrence): a record of
// length 0 shares its start with the record after it, so the n-th record of one start time in a
// download's order is occurrence n. Each download stores the dose conversion in force once and
// its records refer to it.
//
// A record downloaded again with the same fields is left alone (unchanged). A record of the
// same key with other fields replaces the stored one (updated): the device's newest record may
// still have been growing at the earlier download, so the later copy is the more complete one.
// Only records whose commit byte is 0 are kept: page headers and records the device never
// committed are used neither by the chart nor by the CSV.
//
// Several processes (the window and kalvo-cli) may use the file at once: WAL mode and a busy
// timeout. One object per thread; every call of one object on the thread that opened it.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "i18n/language.h"
#include "link/device_identity.h"
#include "measure/calendar.h"
#include "measure/dose_conversion.h"
#include "measure/history_chart.h"
#include "measure/history_image.h"
#include "platform/log_sink.h"
#include "platform/ui_port.h"

struct sqlite3;

namespace kalvo {

class HistoryPage;

// $XDG_DATA_HOME/kalvo/history.sqlite, else $HOME/.local/share/kalvo/history.sqlite; empty
// when neither variable is set. On Windows %LOCALAPPDATA%\kalvo\history.sqlite.
std::string DefaultArchivePath();

// Where the archive reports: a file set aside goes to the UI port (a warning box) and to the
// report log.
struct ArchiveNotices {
    UiPort* ui = nullptr;
    LogSink* log = nullptr;
    InterfaceLanguage language = InterfaceLanguage::English;
};

// One download as the archive takes it.
struct ArchiveDownload {
    std::string serial;        // FormatSerial of INF_1, e.g. 123-45678
    int boardCode = 0;         // family: 630 or 520
    std::string identityText;  // the model text of the identification
    DoseConversion conversion;
    std::uint32_t deviceTime = 0;  // device seconds when the download began
    // The ring's records in logical order; those that do not count are skipped by Merge.
    std::vector<HistoryRecord> records;
};

// A completed download of the history page with the identity of its device.
ArchiveDownload ArchiveDownloadOf(const HistoryPage& history, const DeviceIdentity& identity);

struct MergeCounts {
    std::uint32_t added = 0;      // records the archive did not have
    std::uint32_t updated = 0;    // same start time, other fields: replaced by the new copy
    std::uint32_t unchanged = 0;  // already held exactly
    bool operator==(const MergeCounts&) const = default;
};

// Tests only: `hook` runs after every `every` records merged, inside the transaction.
struct MergeHook {
    std::uint32_t every = 0;
    std::function<void(std::uint32_t merged)> hook;
};

struct ArchiveDeviceSummary {
    std::string serial;
    int boardCode = 0;
    std::string identityText;
    std::uint64_t recordCount = 0;
    std::uint32_t firstTime = 0;  // start of the oldest record (0 when there is none)
    std::uint32_t lastTime = 0;   // start of the newest record
    std::uint32_t downloads = 0;  // downloads and imports merged
};

// Records of one device whose start lies in [from, to].
struct ArchiveQuery {
    std::string serial;
    std::uint32_t from = 0;
    std::uint32_t to = 0xFFFFFFFF;
};

// One device's records loaded into memory, oldest first by start time: the chart's record
// source over the archive (HistoryWindow and DrawHistoryChart work on it unchanged).
class ArchiveRecordSource : public HistoryRecordSource {
public:
    ArchiveRecordSource() = default;
    ArchiveRecordSource(std::vector<HistoryRecord> records, DoseConversion conversion)
        : records_(std::move(records)), conversion_(conversion) {}

    std::uint32_t RecordCount() const override { return static_cast<std::uint32_t>(records_.size()); }
    std::optional<HistoryRecord> RecordAt(std::uint32_t logical) const override;

    const std::vector<HistoryRecord>& Records() const { return records_; }
    // The conversion of the device's latest download: the chart draws every bar with it.
    const DoseConversion& Conversion() const { return conversion_; }
    // Start of the newest record (0 when empty): where the chart's "Last" goes.
    std::uint32_t NewestTime() const { return records_.empty() ? 0 : records_.back().startTime; }

private:
    std::vector<HistoryRecord> records_;
    DoseConversion conversion_;
};

// The records of the period a chart shows: from its first bar's first second to its last bar's
// last second.
ArchiveQuery PeriodQuery(const std::string& serial, const ChartModel& chart);

// Why an import was refused: the 1-based line and what is wrong with it.
struct ImportError {
    std::uint32_t line = 0;
    std::string reason;
};

// One record line of a CSV file the program saved, read back.
struct SavedCsvLine {
    HistoryRecord record;  // what the file does not carry is that of an ordinary measurement
    DoseConversion conversion;
    bool operator==(const SavedCsvLine&) const = default;
};

// Reads the text of a CSV file the program saved: the header line, then lines exactly as
// HistoryCsvLine writes them with their own row numbers, CR LF after every line, one family.
// The lines in file order (newest first); nullopt with the first wrong line otherwise.
std::optional<std::vector<SavedCsvLine>> ParseSavedCsv(std::string_view text, ImportError* error = nullptr);

class HistoryArchive {
public:
    // Opens (or starts) the archive at `path`, creating its folder (mode 0700). A file that is
    // not an archive of this program, or is damaged, is renamed aside (history.sqlite.damaged-
    // YYYYMMDD-hhmmss[-N], never over an existing file; its -wal and -shm with it), reported
    // through `notices`, and a new archive is started. nullptr when the archive cannot be used
    // at all; `error` then says why.
    static std::unique_ptr<HistoryArchive> Open(const std::string& path, const ArchiveNotices& notices,
                                                std::string* error = nullptr);
    ~HistoryArchive();
    HistoryArchive(const HistoryArchive&) = delete;
    HistoryArchive& operator=(const HistoryArchive&) = delete;

    const std::string& Path() const { return path_; }
    // The name the damaged file was given at open; empty when nothing was set aside.
    const std::string& SetAsideName() const { return setAside_; }

    // Merges one download in one transaction; nothing is changed when it fails.
    std::optional<MergeCounts> Merge(const ArchiveDownload& download, const MergeHook& hook = {});

    // Every device, ordered by serial number.
    std::vector<ArchiveDeviceSummary> Devices();
    // The device of the latest download or import (the window's "last one used" without a
    // device); nullopt for an empty archive.
    std::optional<std::string> LatestSerial();
    std::optional<ArchiveDeviceSummary> Device(const std::string& serial);

    // The device's records for the chart; nullopt when the device is not in the archive.
    std::optional<ArchiveRecordSource> LoadRecords(const std::string& serial);

    // The download's CSV text over the archive: header line, then the exportable records of the
    // query newest first, rows numbered as the download numbers them, each line with the
    // conversion of its own download. Streamed to `write` (no capacity limit: nothing is left
    // out); false when `write` fails or the archive cannot be read. `lines` gets the count of
    // record lines.
    bool WriteCsv(const ArchiveQuery& query, const std::function<bool(std::string_view)>& write,
                  std::uint32_t* lines = nullptr);
    // WriteCsv into a file replaced whole (temporary file, sync, rename).
    bool WriteCsvFile(const ArchiveQuery& query, const std::string& path, std::uint32_t* lines = nullptr);

    // Reads a CSV file this program saved and merges its records for `serial` (a device not yet
    // in the archive is added with the family its lines name). Anything that is not exactly the
    // program's format is refused with the line number, and nothing is merged.
    std::optional<MergeCounts> ImportCsv(const std::string& path, const std::string& serial,
                                         ImportError* error = nullptr);
    std::optional<MergeCounts> ImportCsvText(std::string_view text, const std::string& serial,
                                             ImportError* error = nullptr);

    // The last SQLite error text.
    const std::string& LastError() const { return lastError_; }

private:
    HistoryArchive(sqlite3* db, std::string path);

    struct KeyedRecord {
        HistoryRecord record;
        std::uint32_t occurrence = 0;
    };
    using MergePart = std::pair<DoseConversion, std::vector<KeyedRecord>>;
    // The n-th record of each start time (records oldest first) is occurrence n.
    static std::vector<KeyedRecord> Keyed(const std::vector<HistoryRecord>& records);
    std::optional<MergeCounts> MergeRows(const std::string& serial, int boardCode, const std::string& identityText,
                                         const std::vector<MergePart>& parts, std::uint32_t deviceTime, bool imported,
                                         const MergeHook& hook);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string setAside_;
    std::string lastError_;
};

// "R630", "R520", or the board code's number.
std::string FamilyText(int boardCode);

// The report-log line of a merged download:
// "# ARCHIVE: 1200 new records of 123-45678 (3 updated, 64079 unchanged)".
std::string ArchiveMergeLogLine(const std::string& serial, const MergeCounts& counts);

// What the window and kalvo-cli call when a download has completed: opens the archive at
// `path`, merges, writes the report-log line. A failure is reported (report log and the
// returned nullopt) and never fails the download.
std::optional<MergeCounts> ArchiveCompletedDownload(const std::string& path, const HistoryPage& history,
                                                    const DeviceIdentity& identity, const ArchiveNotices& notices);

}  // namespace kalvo
