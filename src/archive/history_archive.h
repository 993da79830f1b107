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
// timeout. Every open connection holds the lock file beside the archive (ArchiveLockPath), so an
// open learns whether another connection is alive: only one that is alone takes what it finds left
// over (a WAL not checkpointed) for the sign of a crash and checks the file. One object is used by one
// thread at a time: it may be opened on a worker and handed to another thread once the worker
// is done with it (WorkerThread::Call's return).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "history/calendar.h"
#include "history/dose_conversion.h"
#include "history/history_chart.h"
#include "history/history_image.h"
#include "i18n/language.h"
#include "link/device_identity.h"
#include "platform/log_sink.h"
#include "platform/presence_lock.h"
#include "platform/ui_port.h"
#include "platform/worker_thread.h"

struct sqlite3;

namespace kalvo {

class HistoryPage;

// $XDG_DATA_HOME/kalvo/history.sqlite, else $HOME/.local/share/kalvo/history.sqlite; empty
// when neither variable is set. On Windows %LOCALAPPDATA%\kalvo\history.sqlite.
std::string DefaultArchivePath();

// The lock file every open connection of the archive at `archivePath` holds: "<path>.lock". It
// stays in place for good (removing it would let two openers lock two files).
std::string ArchiveLockPath(const std::string& archivePath);

// What an open has to tell the user: a file set aside, for the report log and a warning box.
struct ArchiveNotice {
    std::string logLine;
    std::string message;
};

// Where the archive reports: a file set aside goes to the UI port (a warning box) and to the
// report log. An open on another thread than the user interface's keeps its notices in `kept`
// instead, for that thread to report (ReportArchiveNotices).
struct ArchiveNotices {
    UiPort* ui = nullptr;
    LogSink* log = nullptr;
    InterfaceLanguage language = InterfaceLanguage::English;
    std::vector<ArchiveNotice>* kept = nullptr;
};

void ReportArchiveNotices(const std::vector<ArchiveNotice>& notices, UiPort* ui, LogSink* log);

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

// What the chart needs of a device before it reads any record.
struct ArchiveDeviceHead {
    DoseConversion conversion;    // of the device's latest download
    std::uint32_t newestTime = 0;  // start of the newest record
    bool hasRecords = false;
};

class HistoryArchive;

// One device's records read from the archive a period at a time: every draw reads only what
// the chart's walk over its period can reach (the period and the 65535 s before it, the longest
// record), so its cost and memory follow the period shown, not the archive. The chart drawn over
// it equals the one drawn over every record loaded (ArchiveRecordSource). When the records around
// the period's start overlap, the walk's first record depends on the records' places in the
// whole sequence: the records before and after are then counted (not read) and stand in as
// records that lie outside the period.
//
// A read that fails leaves the period empty and is reported through `onError` once per period.
// Thread: that of the archive.
class ArchivePeriodSource : public HistoryRecordSource {
public:
    ArchivePeriodSource(std::shared_ptr<HistoryArchive> archive, std::string serial, const ArchiveDeviceHead& head)
        : archive_(std::move(archive)), serial_(std::move(serial)), head_(head) {}

    std::uint32_t RecordCount() const override { return count_; }
    std::optional<HistoryRecord> RecordAt(std::uint32_t logical) const override;
    void PreparePeriod(std::uint32_t first, std::uint32_t last) const override;
    // Bars of whole days (a month's, a year's): from the day sums and the records around each
    // bar's edges, when those edges are walked as the sums assume (else false: walked).
    bool SumBars(const std::vector<BarSpan>& bars, std::vector<WindowSums>& sums) const override;

    const DoseConversion& Conversion() const { return head_.conversion; }
    std::uint32_t NewestTime() const { return head_.newestTime; }
    // The error of the last period read; empty when it was read whole.
    const std::string& Error() const { return error_; }
    std::function<void(const std::string& error)> onError;
    // Records held for the period prepared last.
    std::size_t HeldRecords() const { return records_.size(); }

private:
    std::shared_ptr<HistoryArchive> archive_;
    std::string serial_;
    ArchiveDeviceHead head_;
    // The period's records stand at [before_, before_ + records_.size()) of count_.
    mutable std::vector<HistoryRecord> records_;
    mutable std::uint32_t before_ = 0;
    mutable std::uint32_t count_ = 0;
    mutable std::string error_;
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

// What an SQLite error says about the archive file. Only Damaged lets a file be set aside: every
// other fault is of the machine or of another program, and the file is left as it was.
enum class ArchiveFault { Damaged, Busy, DiskFull, ReadOnly, Io, CannotOpen, Other };

// `code` is SQLite's (extended) result code, `systemErrno` the errno behind it (0 when none).
ArchiveFault ClassifyArchiveError(int code, int systemErrno);

// The user's text for a fault other than Damaged, in `language`:
// "The history archive is in use by another program: PATH; the file was left as it was (DETAIL)".
std::string ArchiveFaultText(ArchiveFault fault, const std::string& path, const std::string& detail,
                             InterfaceLanguage language);

// The window and kalvo-cli may merge at the same time; a merge of a full ring takes well under this.
inline constexpr std::chrono::milliseconds kArchiveBusyTimeout{10000};

class HistoryArchive {
public:
    // Opens (or starts) the archive at `path`, creating its folder (mode 0700). A file that is
    // not an archive of this program, or is damaged, is renamed aside (history.sqlite.damaged-
    // YYYYMMDD-hhmmss[-N], never over an existing file; its -wal and -shm with it), reported
    // through `notices`, and a new archive is started. nullptr when the archive cannot be used
    // at all; `error` then says why. A file SQLite cannot read for another reason than damage
    // (full disk, lock held elsewhere, read-only, I/O error) is never set aside: the open fails.
    // `busyTimeout`: how long a lock held by another connection is waited for.
    static std::unique_ptr<HistoryArchive> Open(const std::string& path, const ArchiveNotices& notices,
                                                std::string* error = nullptr,
                                                std::chrono::milliseconds busyTimeout = kArchiveBusyTimeout);
    ~HistoryArchive();
    HistoryArchive(const HistoryArchive&) = delete;
    HistoryArchive& operator=(const HistoryArchive&) = delete;

    const std::string& Path() const { return path_; }
    // The name the damaged file was given at open; empty when nothing was set aside.
    const std::string& SetAsideName() const { return setAside_; }

    // Merges one download in one transaction; nothing is changed when it fails.
    std::optional<MergeCounts> Merge(const ArchiveDownload& download, const MergeHook& hook = {});

    // Every device, ordered by serial number; LastError() is empty unless the list is cut short.
    // Read from the day sums and the ends of each device's records: the cost follows the days
    // held, not the records. A device known only by its live readings has no records and no
    // downloads.
    std::vector<ArchiveDeviceSummary> Devices();
    // The device of the latest download or import (the window's "last one used" without a
    // device); nullopt for an empty archive.
    std::optional<std::string> LatestSerial();
    std::optional<ArchiveDeviceSummary> Device(const std::string& serial);

    // The device's records for the chart; nullopt when the device is not in the archive.
    std::optional<ArchiveRecordSource> LoadRecords(const std::string& serial);
    // Conversion and newest start of the device, without reading its records; nullopt when the
    // device is not in the archive or the archive cannot be read (LastError says which).
    std::optional<ArchiveDeviceHead> Head(const std::string& serial);
    // The device's records whose start lies in [from, to], oldest first (an indexed range).
    std::optional<std::vector<HistoryRecord>> RecordsBetween(const std::string& serial, std::uint32_t from,
                                                             std::uint32_t to);
    // The day sums of the device's days [fromDay, toDay] (days since 2000), by day; days without
    // counted records are left out.
    struct DaySum {
        std::uint32_t day = 0;
        WindowSums sums;
    };
    std::optional<std::vector<DaySum>> DaySums(const std::string& serial, std::uint32_t fromDay, std::uint32_t toDay);
    // How many of the device's records start before `time` (reads the device's keys, not the
    // records).
    std::optional<std::uint64_t> CountRecordsBefore(const std::string& serial, std::uint64_t time);

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
    // program's format is refused with the line number, and nothing is merged. The file is read
    // twice a block at a time (checked whole, then merged), so memory does not follow its size;
    // only a file whose times go back is read whole.
    std::optional<MergeCounts> ImportCsv(const std::string& path, const std::string& serial,
                                         ImportError* error = nullptr);
    std::optional<MergeCounts> ImportCsvText(std::string_view text, const std::string& serial,
                                             ImportError* error = nullptr);

    // The last SQLite error text.
    const std::string& LastError() const { return lastError_; }

private:
    HistoryArchive(sqlite3* db, std::string path, PresenceLock presence);
    // The summaries of every device, or of the one `serial` names.
    std::vector<ArchiveDeviceSummary> Summaries(const std::string* serial);

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
    // What a feed hands the merge: the next record with the index of its part's conversion.
    enum class Fed { Record, End, Failed };
    using RecordFeed = std::function<Fed(std::size_t& part, KeyedRecord& record)>;
    // One transaction over the records `feed` hands out, one download row per conversion (in
    // this order); a feed that fails (its reason in lastError_) leaves the archive as it was.
    std::optional<MergeCounts> MergeFed(const std::string& serial, int boardCode, const std::string& identityText,
                                        const std::vector<DoseConversion>& conversions, const RecordFeed& feed,
                                        std::uint32_t deviceTime, bool imported, const MergeHook& hook);

    sqlite3* db_ = nullptr;
    std::string path_;
    PresenceLock presence_;
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
// returned nullopt) and never fails the download. With a `worker` (and a UI port in `notices`)
// the open and the merge run there while the caller's events go on.
std::optional<MergeCounts> ArchiveCompletedDownload(const std::string& path, const HistoryPage& history,
                                                    const DeviceIdentity& identity, const ArchiveNotices& notices,
                                                    WorkerThread* worker = nullptr);

}  // namespace kalvo
