#include "archive/history_archive.h"

#include <sqlite3.h>
#ifdef _WIN32
#include "platform/win32_text.h"
#else
#include <unistd.h>  // link, unlink: a move that never replaces a file
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <unordered_map>

#include "archive/archive_texts.h"
#include "archive/sqlite_statement.h"
#include "history/history_download.h"
#include "history/history_window.h"

namespace kalvo {

namespace {

// The stored fields of a record other than its start: status, commit_byte, spare2, pulses,
// length, spare14, in this order from column `first`.
void ReadStoredFields(const archive_sql::Statement& row, int first, HistoryRecord& record) {
    record.status = static_cast<std::uint8_t>(row.Int(first));
    record.commit = static_cast<std::uint8_t>(row.Int(first + 1));
    record.spare2 = static_cast<std::uint16_t>(row.Int(first + 2));
    record.pulses = static_cast<std::uint32_t>(row.Int(first + 3));
    record.length = static_cast<std::uint16_t>(row.Int(first + 4));
    record.spare14 = static_cast<std::uint16_t>(row.Int(first + 5));
}

// "KLVA": the archive's own mark in the SQLite header.
constexpr int kApplicationId = 0x4B4C5641;
constexpr int kSchemaVersion = 2;
// Version 1 lacked the day sums; they are added on the first open.
constexpr int kSchemaWithoutDaySums = 1;

// The counted records of each device by the day they start in: what the chart's walk would add
// up over whole days, kept by every merge in its transaction, so a month or a year is drawn from
// a few hundred rows.
#define DAY_SUMS_COLUMNS                                                                         \
    " device INTEGER NOT NULL, day INTEGER NOT NULL, pulses INTEGER NOT NULL,"                    \
    " seconds INTEGER NOT NULL, max_rate INTEGER NOT NULL, records INTEGER NOT NULL,"             \
    " PRIMARY KEY(device, day)"

// The day sums of one device's days [?2, ?3] computed from its records.
constexpr const char* kSumDays =
    "INSERT INTO day_sums(device, day, pulses, seconds, max_rate, records)"
    " SELECT device, start / 86400, sum(pulses), sum(max(length, 1)),"
    " coalesce(max(CASE WHEN length >= 10 THEN pulses * 10 / length END), 0), count(*)"
    " FROM records WHERE device = ?1 AND start BETWEEN ?2 * 86400 AND ?3 * 86400 + 86399 AND commit_byte = 0"
    " GROUP BY device, start / 86400";

constexpr const char* kSchema =
    "CREATE TABLE devices("
    " id INTEGER PRIMARY KEY,"
    " serial TEXT NOT NULL UNIQUE,"
    " board_code INTEGER NOT NULL,"
    " identity TEXT NOT NULL);"
    // One row per download (or per conversion of an imported file): the conversion in force.
    "CREATE TABLE downloads("
    " id INTEGER PRIMARY KEY,"
    " device INTEGER NOT NULL REFERENCES devices(id),"
    " taken_at INTEGER NOT NULL,"
    " device_time INTEGER NOT NULL,"
    " imported INTEGER NOT NULL,"
    " sensors INTEGER NOT NULL,"
    " sensitivity INTEGER NOT NULL,"
    " calibration_x100 INTEGER NOT NULL);"
    "CREATE TABLE records("
    " device INTEGER NOT NULL,"
    " start INTEGER NOT NULL,"
    " occurrence INTEGER NOT NULL,"
    " status INTEGER NOT NULL,"
    " commit_byte INTEGER NOT NULL,"
    " spare2 INTEGER NOT NULL,"
    " pulses INTEGER NOT NULL,"
    " length INTEGER NOT NULL,"
    " spare14 INTEGER NOT NULL,"
    " download INTEGER NOT NULL,"
    " PRIMARY KEY(device, start, occurrence)) WITHOUT ROWID;"
    "CREATE TABLE day_sums(" DAY_SUMS_COLUMNS ") WITHOUT ROWID;";

using archive_sql::Exec;
using archive_sql::Statement;

// The integer result of a one-value query; nullopt on any error (a file that is no database
// fails here).
std::optional<std::int64_t> QueryInt(sqlite3* db, const char* sql) {
    Statement statement(db, sql);
    if (!statement.Ok() || statement.Step() != SQLITE_ROW) return std::nullopt;
    return statement.Int(0);
}

std::optional<std::string> QueryText(sqlite3* db, const char* sql) {
    Statement statement(db, sql);
    if (!statement.Ok() || statement.Step() != SQLITE_ROW) return std::nullopt;
    return statement.Text(0);
}

// Creates the missing folders of an archive's path, each private to the user (the history is
// personal data).
bool MakeFolders(const std::filesystem::path& folder) {
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec)) return true;
    if (!MakeFolders(folder.parent_path())) return false;
    if (!std::filesystem::create_directory(folder, ec) && !std::filesystem::is_directory(folder, ec)) return false;
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    return true;
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// Moves a file to a name that nothing holds yet; link + unlink never replaces an existing file
// the way rename would.
bool MoveNoReplace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the new name is taken.
    return ::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), 0) != 0;
#else
    if (::link(from.c_str(), to.c_str()) == 0) return ::unlink(from.c_str()) == 0;
    // A file system without hard links: the name was found free just before.
    std::error_code ec;
    if (Exists(to)) return false;
    std::filesystem::rename(from, to, ec);
    return !ec;
#endif
}

// history.sqlite.damaged-YYYYMMDD-hhmmss[-N], free together with its -wal and -shm names.
std::string FreeSetAsideName(const std::string& path) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = path + ".damaged-" + stamp;
    for (int n = 1;; ++n) {
        std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        if (!Exists(name) && !Exists(name + "-wal") && !Exists(name + "-shm")) return name;
    }
}

enum class FileState { Usable, New, Older, Foreign, Damaged, Newer, Unusable };

// Why a look at the file failed when the fault is not the file's.
struct SqliteFailure {
    int code = SQLITE_OK;
    int systemErrno = 0;
    std::string detail;
};

SqliteFailure FailureOf(sqlite3* db) {
    SqliteFailure failure{sqlite3_extended_errcode(db), sqlite3_system_errno(db), sqlite3_errmsg(db)};
    // On a read-only file system SQLite quietly opens the file read-only and then fails to open
    // the WAL's index, with the errno of some later call: the connection itself says it.
    if (sqlite3_db_readonly(db, "main") == 1) failure.code = SQLITE_READONLY;
    return failure;
}

enum class Header { Plausible, Implausible, Unreadable };

// SQLite takes a file too short for a page for an empty database and would write over it; only
// an empty file (a new archive whose first pages are still in its WAL) may lack the header.
Header ExamineHeader(const std::string& path, SqliteFailure& failure) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) return Header::Plausible;  // missing, or nothing to overwrite; SQLite reports the rest
    static constexpr std::string_view kMagic{"SQLite format 3\0", 16};
    char header[16] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        // A file that cannot be read says nothing about its contents.
        failure = {SQLITE_CANTOPEN, errno, "cannot read the file"};
        return Header::Unreadable;
    }
    in.read(header, sizeof header);
    if (in.bad()) {
        failure = {SQLITE_IOERR_READ, errno, "cannot read the file"};
        return Header::Unreadable;
    }
    const bool ours =
        size >= 100 && in.gcount() == sizeof header && std::string_view(header, sizeof header) == kMagic;
    return ours ? Header::Plausible : Header::Implausible;
}

// A failed query: Damaged only when SQLite says the file is no database or is corrupt.
FileState FailedQuery(sqlite3* db, SqliteFailure& failure) {
    failure = FailureOf(db);
    return ClassifyArchiveError(failure.code, failure.systemErrno) == ArchiveFault::Damaged ? FileState::Damaged
                                                                                            : FileState::Unusable;
}

// What a crash leaves: a WAL with frames not yet checkpointed (the last connection to close
// cleanly checkpoints and deletes it) or a rollback journal.
bool LeftUnclean(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t wal = std::filesystem::file_size(path + "-wal", ec);
    return (!ec && wal > 0) || Exists(path + "-journal");
}

// `unclean`: the full check is run; otherwise only when the file's size disagrees with its header.
// The check reads every page, so a clean open of a large file goes without it; a damaged page
// met later is reported by the query that meets it. `shared`: another connection is alive, so a
// WAL and a size that has not caught up with it are its work in progress: no check at all.
FileState Examine(sqlite3* db, const std::string& path, bool unclean, bool shared, SqliteFailure& failure) {
    switch (ExamineHeader(path, failure)) {
        case Header::Implausible: return FileState::Damaged;
        case Header::Unreadable: return FileState::Unusable;
        case Header::Plausible: break;
    }
    std::optional<std::int64_t> application = QueryInt(db, "PRAGMA application_id");
    if (!application) return FailedQuery(db, failure);
    std::optional<std::int64_t> version = QueryInt(db, "PRAGMA user_version");
    if (!version) return FailedQuery(db, failure);
    std::optional<std::int64_t> objects = QueryInt(db, "SELECT count(*) FROM sqlite_master");
    if (!objects) return FailedQuery(db, failure);
    if (*application == 0 && *version == 0 && *objects == 0) return FileState::New;
    if (*application != kApplicationId) return FileState::Foreign;
    if (*version > kSchemaVersion) return FileState::Newer;
    if (*version != kSchemaVersion && *version != kSchemaWithoutDaySums) return FileState::Foreign;
    if (shared) return *version == kSchemaVersion ? FileState::Usable : FileState::Older;
    if (!unclean) {
        std::optional<std::int64_t> pages = QueryInt(db, "PRAGMA page_count");
        if (!pages) return FailedQuery(db, failure);
        std::optional<std::int64_t> pageSize = QueryInt(db, "PRAGMA page_size");
        if (!pageSize) return FailedQuery(db, failure);
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec && size == static_cast<std::uintmax_t>(*pages * *pageSize))
            return *version == kSchemaVersion ? FileState::Usable : FileState::Older;
    }
    std::optional<std::string> check = QueryText(db, "PRAGMA quick_check");
    if (!check) return FailedQuery(db, failure);
    if (*check != "ok") return FileState::Damaged;
    return *version == kSchemaVersion ? FileState::Usable : FileState::Older;
}

sqlite3* OpenConnection(const std::string& path, std::chrono::milliseconds busyTimeout, SqliteFailure& failure) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        failure = db ? FailureOf(db) : SqliteFailure{SQLITE_NOMEM, 0, "out of memory"};
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
    sqlite3_extended_result_codes(db, 1);
    return db;
}

// Adds the day sums to an archive of the version before them, once, in one transaction. One walk
// over the records in key order: a device's days come one after another, so each day is summed
// as it goes and written once, with no sort of every record (what a GROUP BY over them costs).
bool AddDaySums(sqlite3* db) {
    if (!Exec(db, "BEGIN IMMEDIATE")) return false;
    // Another process may have done it in the meantime.
    std::optional<std::int64_t> version = QueryInt(db, "PRAGMA user_version");
    if (version && *version == kSchemaVersion) return Exec(db, "COMMIT");
    const std::string pragma = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    auto sumDays = [db] {
        Statement walk(db,
                       "SELECT device, start, pulses, length FROM records WHERE commit_byte = 0"
                       " ORDER BY device, start, occurrence");
        Statement add(db, "INSERT INTO day_sums(device, day, pulses, seconds, max_rate, records) VALUES(?, ?, ?, ?, ?, ?)");
        if (!walk.Ok() || !add.Ok()) return false;
        std::int64_t device = -1, day = -1, pulses = 0, seconds = 0, maxRate = 0, records = 0;
        auto flush = [&] {
            if (records == 0) return true;
            add.Reset();
            add.Bind(1, device).Bind(2, day).Bind(3, pulses).Bind(4, seconds).Bind(5, maxRate).Bind(6, records);
            pulses = seconds = maxRate = records = 0;
            return add.Step() == SQLITE_DONE;
        };
        int step = 0;
        while ((step = walk.Step()) == SQLITE_ROW) {
            const std::int64_t rowDevice = walk.Int(0), rowDay = walk.Int(1) / 86400;
            if ((rowDevice != device || rowDay != day) && !flush()) return false;
            device = rowDevice;
            day = rowDay;
            const std::int64_t rowPulses = walk.Int(2), length = walk.Int(3);
            pulses += rowPulses;
            seconds += std::max<std::int64_t>(length, 1);
            if (length >= 10) maxRate = std::max(maxRate, rowPulses * 10 / length);
            ++records;
        }
        return step == SQLITE_DONE && flush();
    };
    if (Exec(db, "CREATE TABLE day_sums(" DAY_SUMS_COLUMNS ") WITHOUT ROWID") && sumDays() &&
        Exec(db, pragma.c_str()) && Exec(db, "COMMIT"))
        return true;
    Exec(db, "ROLLBACK");
    return false;
}

bool CreateSchema(sqlite3* db) {
    if (!Exec(db, "BEGIN IMMEDIATE")) return false;
    // Another process may have made it in the meantime.
    std::optional<std::int64_t> objects = QueryInt(db, "SELECT count(*) FROM sqlite_master");
    if (objects && *objects > 0) return Exec(db, "COMMIT");
    std::string pragmas = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                          "; PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
    if (Exec(db, kSchema) && Exec(db, pragmas.c_str()) && Exec(db, "COMMIT")) return true;
    Exec(db, "ROLLBACK");
    return false;
}

DoseConversion ConversionOfRow(std::int64_t sensors, std::int64_t sensitivity, std::int64_t calibration) {
    DoseConversion conversion;
    conversion.sensors = static_cast<std::uint32_t>(sensors);
    conversion.sensitivity = static_cast<std::uint32_t>(sensitivity);
    conversion.calibrationX100 = static_cast<std::uint32_t>(calibration);
    return conversion;
}

}  // namespace

ArchiveFault ClassifyArchiveError(int code, int systemErrno) {
    switch (code & 0xFF) {
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT: return ArchiveFault::Damaged;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return ArchiveFault::Busy;
        case SQLITE_FULL: return ArchiveFault::DiskFull;
        case SQLITE_READONLY:
        case SQLITE_PERM: return ArchiveFault::ReadOnly;
        case SQLITE_IOERR:
        case SQLITE_CANTOPEN:
            // SQLite reports a full or read-only file system as an I/O or open error in places
            // (the shared-memory index, the WAL); errno says which.
            if (systemErrno == ENOSPC) return ArchiveFault::DiskFull;
#ifdef EDQUOT
            if (systemErrno == EDQUOT) return ArchiveFault::DiskFull;
#endif
            if (systemErrno == EROFS || systemErrno == EACCES || systemErrno == EPERM) return ArchiveFault::ReadOnly;
            return (code & 0xFF) == SQLITE_IOERR ? ArchiveFault::Io : ArchiveFault::CannotOpen;
        default: return ArchiveFault::Other;
    }
}

std::string ArchiveFaultText(ArchiveFault fault, const std::string& path, const std::string& detail,
                             InterfaceLanguage language) {
    const TextPair* kind = &kArchiveCannotOpen;
    switch (fault) {
        case ArchiveFault::Busy: kind = &kArchiveBusy; break;
        case ArchiveFault::DiskFull: kind = &kArchiveDiskFull; break;
        case ArchiveFault::ReadOnly: kind = &kArchiveReadOnly; break;
        case ArchiveFault::Io: kind = &kArchiveIoError; break;
        case ArchiveFault::Damaged:
        case ArchiveFault::CannotOpen:
        case ArchiveFault::Other: break;
    }
    return kind->Pick(language) + ": " + path + kArchiveLeftAsItWas.Pick(language) + " (" + detail + ")";
}

std::string DefaultArchivePath() {
#ifdef _WIN32
    // %LOCALAPPDATA%\kalvo: the history stays on this computer, not in a roaming profile.
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return {};
    return Narrow(local) + "\\kalvo\\history.sqlite";
#else
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string folder;
    if (data && *data == '/') {
        folder = data;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        folder = std::string(home) + "/.local/share";
    } else {
        return {};
    }
    return folder + "/kalvo/history.sqlite";
#endif
}

std::optional<HistoryRecord> ArchiveRecordSource::RecordAt(std::uint32_t logical) const {
    if (logical >= records_.size()) return std::nullopt;
    return records_[logical];
}

ArchiveDownload ArchiveDownloadOf(const HistoryPage& history, const DeviceIdentity& identity) {
    ArchiveDownload download;
    download.serial = FormatSerial(identity.inf1);
    download.boardCode = identity.boardInfo.boardCode;
    download.identityText = identity.modelText;
    download.conversion = history.Conversion();
    download.deviceTime = DateTimeToSeconds(history.DeviceTime());
    const HistoryStore& store = history.Store();
    download.records.reserve(store.RecordCount());
    for (std::uint32_t i = 0; i < store.RecordCount(); ++i) {
        if (std::optional<HistoryRecord> record = store.RecordAt(i)) download.records.push_back(*record);
    }
    return download;
}

std::string ArchiveLockPath(const std::string& archivePath) { return archivePath + ".lock"; }

HistoryArchive::HistoryArchive(sqlite3* db, std::string path, PresenceLock presence)
    : db_(db), path_(std::move(path)), presence_(std::move(presence)) {}

HistoryArchive::~HistoryArchive() { sqlite3_close(db_); }

void ReportArchiveNotices(const std::vector<ArchiveNotice>& notices, UiPort* ui, LogSink* log) {
    for (const ArchiveNotice& notice : notices) {
        if (log) log->LogLine(notice.logLine);
        if (ui) ui->ShowMessage(MessageKind::Warning, notice.message);
    }
}

std::unique_ptr<HistoryArchive> HistoryArchive::Open(const std::string& path, const ArchiveNotices& notices,
                                                     std::string* error, std::chrono::milliseconds busyTimeout) {
    auto fail = [&](std::string why) -> std::unique_ptr<HistoryArchive> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    auto unusable = [&](const SqliteFailure& failure) {
        ArchiveFault fault = ClassifyArchiveError(failure.code, failure.systemErrno);
        // Reached only for a file that read as sound: it is not called damaged now.
        if (fault == ArchiveFault::Damaged) fault = ArchiveFault::Other;
        return fail(ArchiveFaultText(fault, path, failure.detail, notices.language));
    };
#ifdef _WIN32
    if (path.empty()) return fail("no data folder (LOCALAPPDATA is not set)");
#else
    if (path.empty()) return fail("no data folder (neither XDG_DATA_HOME nor HOME is set)");
#endif
    if (!MakeFolders(std::filesystem::path(path).parent_path())) return fail("cannot create the folder of " + path);

    // Held before the file is looked at, so that a connection opened meanwhile sees this one. No
    // lock file (a read-only folder): nothing is known of the others and the open goes as if alone.
    PresenceLock presence(ArchiveLockPath(path));
    const bool shared = presence.CompanyFound() == PresenceLock::Company::Others;
    std::string setAside;
    for (int attempt = 0; attempt < 2; ++attempt) {
        SqliteFailure failure;
        // Looked at before SQLite opens the file, which may replay or remove what was left.
        const bool unclean = !shared && LeftUnclean(path);
        sqlite3* db = OpenConnection(path, busyTimeout, failure);
        if (!db) return unusable(failure);
        // The file is only looked at until it is known to be ours: closing must not checkpoint a
        // damaged file's WAL into it or delete the WAL.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        FileState state = Examine(db, path, unclean, shared, failure);
        if (state == FileState::Unusable) {
            sqlite3_close(db);
            return unusable(failure);
        }
        if (state == FileState::Newer) {
            sqlite3_close(db);
            return fail(path + " was written by a newer version of the program");
        }
        if (state == FileState::Foreign || state == FileState::Damaged) {
            sqlite3_close(db);
            if (attempt > 0) return fail("cannot start a new archive at " + path);
            setAside = FreeSetAsideName(path);
            // The WAL belongs to the file set aside and may hold its last transactions: it goes
            // first, and if it cannot, nothing is moved (a new archive must never replay it, and it
            // is never deleted). The shared-memory index is rebuilt from the WAL, so it may go.
            const std::string wal = path + "-wal", shm = path + "-shm";
            const bool hasWal = Exists(wal);
            if (hasWal && !MoveNoReplace(wal, setAside + "-wal")) return fail("cannot move " + wal + " aside");
            if (!MoveNoReplace(path, setAside)) {
                if (hasWal) MoveNoReplace(setAside + "-wal", wal);
                return fail("cannot move " + path + " aside");
            }
            std::error_code ec;
            if (Exists(shm) && !MoveNoReplace(shm, setAside + "-shm")) std::filesystem::remove(shm, ec);
            const std::string text =
                (state == FileState::Foreign ? kArchiveForeign : kArchiveDamaged).Pick(notices.language) +
                kArchiveMovedTo.Pick(notices.language) + setAside + kArchiveNewStarted.Pick(notices.language);
            const ArchiveNotice notice{std::string("# ARCHIVE: ") +
                                           (state == FileState::Foreign ? "foreign" : "damaged") + " file moved to " +
                                           setAside + ", new archive started",
                                       text};
            if (notices.kept)
                notices.kept->push_back(notice);
            else
                ReportArchiveNotices({notice}, notices.ui, notices.log);
            continue;
        }
        if (!Exec(db, "PRAGMA journal_mode = WAL") || !Exec(db, "PRAGMA synchronous = FULL") ||
            (state == FileState::New && !CreateSchema(db)) || (state == FileState::Older && !AddDaySums(db))) {
            failure = FailureOf(db);
            sqlite3_close(db);
            return unusable(failure);
        }
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        std::unique_ptr<HistoryArchive> archive(new HistoryArchive(db, path, std::move(presence)));
        archive->setAside_ = setAside;
        return archive;
    }
    return fail("cannot open " + path);
}

std::vector<HistoryArchive::KeyedRecord> HistoryArchive::Keyed(const std::vector<HistoryRecord>& records) {
    std::vector<KeyedRecord> keyed;
    keyed.reserve(records.size());
    // A ring whose clock never went back numbers each start's records as they come.
    if (std::is_sorted(records.begin(), records.end(),
                       [](const HistoryRecord& a, const HistoryRecord& b) { return a.startTime < b.startTime; })) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            const bool again = i > 0 && records[i - 1].startTime == records[i].startTime;
            keyed.push_back({records[i], again ? keyed.back().occurrence + 1 : 0});
        }
        return keyed;
    }
    std::unordered_map<std::uint32_t, std::uint32_t> seen;
    for (const HistoryRecord& record : records) keyed.push_back({record, seen[record.startTime]++});
    return keyed;
}

std::optional<MergeCounts> HistoryArchive::Merge(const ArchiveDownload& download, const MergeHook& hook) {
    std::vector<HistoryRecord> counted;
    counted.reserve(download.records.size());
    for (const HistoryRecord& record : download.records)
        if (record.Counts()) counted.push_back(record);
    std::vector<MergePart> parts;
    parts.emplace_back(download.conversion, Keyed(counted));
    return MergeRows(download.serial, download.boardCode, download.identityText, parts, download.deviceTime, false,
                     hook);
}

std::string FamilyText(int boardCode) {
    if (boardCode == kBoardCodeR630) return "R630";
    if (boardCode == kBoardCodeR520) return "R520";
    return std::to_string(boardCode);
}

std::optional<MergeCounts> HistoryArchive::MergeRows(const std::string& serial, int boardCode,
                                                     const std::string& identityText,
                                                     const std::vector<MergePart>& parts, std::uint32_t deviceTime,
                                                     bool imported, const MergeHook& hook) {
    std::vector<DoseConversion> conversions;
    for (const MergePart& part : parts) conversions.push_back(part.first);
    std::size_t partIndex = 0, next = 0;
    RecordFeed feed = [&](std::size_t& part, KeyedRecord& record) {
        while (partIndex < parts.size() && next >= parts[partIndex].second.size()) {
            ++partIndex;
            next = 0;
        }
        if (partIndex >= parts.size()) return Fed::End;
        part = partIndex;
        record = parts[partIndex].second[next++];
        return Fed::Record;
    };
    return MergeFed(serial, boardCode, identityText, conversions, feed, deviceTime, imported, hook);
}

std::optional<MergeCounts> HistoryArchive::MergeFed(const std::string& serial, int boardCode,
                                                    const std::string& identityText,
                                                    const std::vector<DoseConversion>& conversions,
                                                    const RecordFeed& feed, std::uint32_t deviceTime, bool imported,
                                                    const MergeHook& hook) {
    auto failed = [this]() -> std::optional<MergeCounts> {
        lastError_ = sqlite3_errmsg(db_);
        Exec(db_, "ROLLBACK");
        return std::nullopt;
    };
    if (!Exec(db_, "BEGIN IMMEDIATE")) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    // The device: an import keeps what a download said about it.
    std::int64_t device = 0;
    {
        Statement find(db_, "SELECT id, board_code FROM devices WHERE serial = ?");
        find.Bind(1, serial);
        int step = find.Step();
        if (step == SQLITE_ROW) {
            device = find.Int(0);
            // Another family's device with the same number: its records would be mixed into
            // this one's and replace those of the same start, so they are not merged.
            const int archivedFamily = static_cast<int>(find.Int(1));
            if (archivedFamily != 0 && boardCode != 0 && archivedFamily != boardCode) {
                lastError_ = "device " + serial + " is archived as an " + FamilyText(archivedFamily) + ", not an " +
                             FamilyText(boardCode) + "; nothing merged";
                Exec(db_, "ROLLBACK");
                return std::nullopt;
            }
            if (!imported) {
                Statement update(db_, "UPDATE devices SET board_code = ?, identity = ? WHERE id = ?");
                update.Bind(1, boardCode).Bind(2, identityText).Bind(3, device);
                if (update.Step() != SQLITE_DONE) return failed();
            }
        } else if (step == SQLITE_DONE) {
            Statement insert(db_, "INSERT INTO devices(serial, board_code, identity) VALUES(?, ?, ?)");
            insert.Bind(1, serial).Bind(2, boardCode).Bind(3, identityText);
            if (insert.Step() != SQLITE_DONE) return failed();
            device = sqlite3_last_insert_rowid(db_);
        } else {
            return failed();
        }
    }

    Statement addDownload(db_,
                          "INSERT INTO downloads(device, taken_at, device_time, imported, sensors, sensitivity,"
                          " calibration_x100) VALUES(?, ?, ?, ?, ?, ?, ?)");
    // The device's rows in key order over a span of starts: a batch's stored rows are read in one
    // walk beside its sorted keys instead of one look-up per record.
    Statement stored(db_,
                     "SELECT start, occurrence, status, commit_byte, spare2, pulses, length, spare14 FROM records"
                     " WHERE device = ?1 AND start BETWEEN ?2 AND ?3 ORDER BY start, occurrence");
    Statement insert(db_,
                     "INSERT INTO records(device, start, occurrence, status, commit_byte, spare2, pulses, length,"
                     " spare14, download) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                     " ON CONFLICT(device, start, occurrence) DO NOTHING");
    constexpr std::size_t kRun = 32;
    std::string many = "INSERT INTO records(device, start, occurrence, status, commit_byte, spare2, pulses, length,"
                       " spare14, download) VALUES";
    for (std::size_t r = 0; r < kRun; ++r) many += r == 0 ? "(?,?,?,?,?,?,?,?,?,?)" : ",(?,?,?,?,?,?,?,?,?,?)";
    many += " ON CONFLICT(device, start, occurrence) DO NOTHING";
    Statement insertMany(db_, many.c_str());
    Statement update(db_,
                     "UPDATE records SET status = ?, commit_byte = ?, spare2 = ?, pulses = ?, length = ?,"
                     " spare14 = ?, download = ? WHERE device = ? AND start = ? AND occurrence = ?");
    if (!addDownload.Ok() || !stored.Ok() || !insert.Ok() || !insertMany.Ok() || !update.Ok()) return failed();

    MergeCounts counts;
    std::uint32_t merged = 0;
    std::vector<std::int64_t> downloadIds;
    std::vector<bool> used(conversions.size(), false);
    for (const DoseConversion& conversion : conversions) {
        addDownload.Reset();
        addDownload.Bind(1, device)
            .Bind(2, static_cast<std::int64_t>(std::time(nullptr)))
            .Bind(3, deviceTime)
            .Bind(4, imported ? 1 : 0)
            .Bind(5, conversion.sensors)
            .Bind(6, conversion.sensitivity)
            .Bind(7, conversion.calibrationX100);
        if (addDownload.Step() != SQLITE_DONE) return failed();
        downloadIds.push_back(sqlite3_last_insert_rowid(db_));
    }
    // The day sums follow: an added record adds to its day, a replaced one has its day summed again.
    struct DayDelta {
        std::int64_t pulses = 0, seconds = 0, maxRate = 0, records = 0;
    };
    std::map<std::uint32_t, DayDelta> addedTo;
    std::set<std::uint32_t> replacedIn;

    // Records are taken a batch at a time (an import streams its file), each batch in key order:
    // its stored rows read in one walk, then its writes.
    struct Pending {
        KeyedRecord keyed;
        std::size_t part = 0;
        enum Action : std::uint8_t { Add, Keep, Replace } action = Add;
    };
    constexpr std::size_t kBatch = 16384;
    // Rows of the device between two keys of a batch that the walk steps over before it looks the
    // next key up instead: what keeps a batch whose starts are far apart from reading between them.
    constexpr int kStepsBeforeSeek = 16;
    std::vector<Pending> batch;
    std::vector<std::uint32_t> order;
    auto keyLess = [](const KeyedRecord& a, const KeyedRecord& b) {
        return a.record.startTime != b.record.startTime ? a.record.startTime < b.record.startTime
                                                        : a.occurrence < b.occurrence;
    };
    auto sameKey = [](const KeyedRecord& a, const KeyedRecord& b) {
        return a.record.startTime == b.record.startTime && a.occurrence == b.occurrence;
    };
    auto mergeBatch = [&]() -> bool {
        order.resize(batch.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        // Equal keys keep the order they came in (a later copy goes over an earlier one).
        auto before = [&](std::uint32_t a, std::uint32_t b) {
            if (keyLess(batch[a].keyed, batch[b].keyed)) return true;
            return sameKey(batch[a].keyed, batch[b].keyed) && a < b;
        };
        if (!std::is_sorted(order.begin(), order.end(), before)) std::sort(order.begin(), order.end(), before);
        const std::int64_t last = batch[order.back()].keyed.record.startTime;
        auto seek = [&](std::int64_t from) {
            stored.Reset();
            stored.Bind(1, device).Bind(2, from).Bind(3, last);
            return stored.Step();
        };
        int step = seek(batch[order.front()].keyed.record.startTime);
        std::optional<HistoryRecord> held;  // the stored row of the key at hand, as the batch leaves it
        for (std::size_t i = 0; i < order.size(); ++i) {
            Pending& pending = batch[order[i]];
            const HistoryRecord& record = pending.keyed.record;
            if (i == 0 || !sameKey(batch[order[i - 1]].keyed, pending.keyed)) {
                held.reset();
                int steps = 0;
                bool sought = false;
                for (;;) {
                    if (step != SQLITE_ROW) break;
                    const auto rowStart = static_cast<std::uint32_t>(stored.Int(0));
                    const auto rowOccurrence = static_cast<std::uint32_t>(stored.Int(1));
                    if (rowStart > record.startTime ||
                        (rowStart == record.startTime && rowOccurrence >= pending.keyed.occurrence)) {
                        if (rowStart == record.startTime && rowOccurrence == pending.keyed.occurrence) {
                            HistoryRecord row = record;
                            ReadStoredFields(stored, 2, row);
                            held = row;
                        }
                        break;
                    }
                    if (!sought && ++steps > kStepsBeforeSeek) {
                        sought = true;
                        step = seek(record.startTime);
                    } else {
                        step = stored.Step();
                    }
                }
                if (step != SQLITE_ROW && step != SQLITE_DONE) return false;
            }
            // An import never replaces what a download brought: the file carries less.
            if (!held) {
                pending.action = Pending::Add;
                held = record;
            } else if (*held == record || imported) {
                pending.action = Pending::Keep;
            } else {
                pending.action = Pending::Replace;
                held = record;
            }
        }
        stored.Reset();  // no read stays open across the writes

        // Added rows go in kRun to a statement: a row then costs SQLite's insert, hardly the statement's.
        std::array<const Pending*, kRun> run{};
        std::size_t inRun = 0;
        auto insertRun = [&](Statement& into) {
            into.Reset();
            int at = 0;
            for (std::size_t r = 0; r < inRun; ++r) {
                const HistoryRecord& record = run[r]->keyed.record;
                into.Bind(at + 1, device)
                    .Bind(at + 2, record.startTime)
                    .Bind(at + 3, run[r]->keyed.occurrence)
                    .Bind(at + 4, record.status)
                    .Bind(at + 5, record.commit)
                    .Bind(at + 6, record.spare2)
                    .Bind(at + 7, record.pulses)
                    .Bind(at + 8, record.length)
                    .Bind(at + 9, record.spare14)
                    .Bind(at + 10, downloadIds[run[r]->part]);
                at += 10;
                // The rest of a run too short for the statement of many goes one by one.
                if (&into == &insert && r + 1 < inRun) {
                    if (into.Step() != SQLITE_DONE) return false;
                    into.Reset();
                    at = 0;
                }
            }
            inRun = 0;
            return into.Step() == SQLITE_DONE;
        };
        std::uint32_t lastDay = 0;
        DayDelta* day = nullptr;
        for (const std::uint32_t index : order) {
            const Pending& pending = batch[index];
            const HistoryRecord& record = pending.keyed.record;
            const std::int64_t downloadId = downloadIds[pending.part];
            if (pending.action == Pending::Add) {
                run[inRun++] = &pending;
                if (inRun == kRun && !insertRun(insertMany)) return false;
                if (record.Counts()) {
                    const std::uint32_t dayOf = record.startTime / 86400;
                    if (!day || dayOf != lastDay) day = &addedTo[lastDay = dayOf];
                    day->pulses += record.pulses;
                    day->seconds += record.length == 0 ? 1 : record.length;
                    if (record.length >= 10)
                        day->maxRate = std::max<std::int64_t>(day->maxRate, std::int64_t{record.pulses} * 10 / record.length);
                    ++day->records;
                }
                ++counts.added;
                used[pending.part] = true;
            } else if (pending.action == Pending::Replace) {
                // A key added earlier in this batch is written before it is replaced.
                if (inRun > 0 && !insertRun(insert)) return false;
                update.Reset();
                update.Bind(1, record.status)
                    .Bind(2, record.commit)
                    .Bind(3, record.spare2)
                    .Bind(4, record.pulses)
                    .Bind(5, record.length)
                    .Bind(6, record.spare14)
                    .Bind(7, downloadId)
                    .Bind(8, device)
                    .Bind(9, record.startTime)
                    .Bind(10, pending.keyed.occurrence);
                if (update.Step() != SQLITE_DONE) return false;
                replacedIn.insert(record.startTime / 86400);
                ++counts.updated;
                used[pending.part] = true;
            } else {
                ++counts.unchanged;
            }
            ++merged;
            if (hook.every && hook.hook && merged % hook.every == 0) hook.hook(merged);
        }
        if (inRun > 0 && !insertRun(insert)) return false;
        batch.clear();
        return true;
    };

    for (;;) {
        Pending pending;
        const Fed fed = feed(pending.part, pending.keyed);
        if (fed == Fed::Failed || (fed == Fed::Record && pending.part >= downloadIds.size())) {
            Exec(db_, "ROLLBACK");
            return std::nullopt;
        }
        if (fed == Fed::Record) batch.push_back(pending);
        if ((fed == Fed::End || batch.size() >= kBatch) && !batch.empty() && !mergeBatch()) return failed();
        if (fed == Fed::End) break;
    }
    {
        Statement drop(db_, "DELETE FROM day_sums WHERE device = ? AND day = ?");
        Statement sum(db_, kSumDays);
        for (std::uint32_t day : replacedIn) {
            addedTo.erase(day);
            drop.Reset();
            drop.Bind(1, device).Bind(2, day);
            sum.Reset();
            sum.Bind(1, device).Bind(2, day).Bind(3, day);
            if (drop.Step() != SQLITE_DONE || sum.Step() != SQLITE_DONE) return failed();
        }
        Statement add(db_,
                      "INSERT INTO day_sums(device, day, pulses, seconds, max_rate, records) VALUES(?, ?, ?, ?, ?, ?)"
                      " ON CONFLICT(device, day) DO UPDATE SET pulses = pulses + excluded.pulses,"
                      " seconds = seconds + excluded.seconds, max_rate = max(max_rate, excluded.max_rate),"
                      " records = records + excluded.records");
        for (const auto& [day, delta] : addedTo) {
            add.Reset();
            add.Bind(1, device).Bind(2, day).Bind(3, delta.pulses).Bind(4, delta.seconds).Bind(5, delta.maxRate).Bind(6, delta.records);
            if (add.Step() != SQLITE_DONE) return failed();
        }
    }
    // An import's conversion that no record took is not kept; a download always is (it says
    // when the device was read).
    for (std::size_t i = 0; imported && i < downloadIds.size(); ++i) {
        if (used[i]) continue;
        Statement drop(db_, "DELETE FROM downloads WHERE id = ?");
        drop.Bind(1, downloadIds[i]);
        if (drop.Step() != SQLITE_DONE) return failed();
    }
    if (!Exec(db_, "COMMIT")) return failed();
    return counts;
}

namespace {

// A device's summary from its day sums (a row per day: every record a merge keeps counts) and the
// two ends of its key range, so the cost follows its days, not its records. A device known only by
// its live readings lists with no records and no downloads.
constexpr const char* kDeviceSummaries =
    "SELECT d.serial, d.board_code, d.identity,"
    " (SELECT coalesce(sum(s.records), 0) FROM day_sums s WHERE s.device = d.id),"
    " (SELECT r.start FROM records r WHERE r.device = d.id ORDER BY r.start LIMIT 1),"
    " (SELECT r.start FROM records r WHERE r.device = d.id ORDER BY r.start DESC LIMIT 1),"
    " (SELECT count(*) FROM downloads w WHERE w.device = d.id)"
    " FROM devices d";

}  // namespace

std::vector<ArchiveDeviceSummary> HistoryArchive::Summaries(const std::string* serial) {
    std::vector<ArchiveDeviceSummary> devices;
    Statement list(db_, serial ? (std::string(kDeviceSummaries) + " WHERE d.serial = ?").c_str()
                               : (std::string(kDeviceSummaries) + " ORDER BY d.serial").c_str());
    if (serial) list.Bind(1, *serial);
    lastError_.clear();
    int step = 0;
    while ((step = list.Step()) == SQLITE_ROW) {
        ArchiveDeviceSummary summary;
        summary.serial = list.Text(0);
        summary.boardCode = static_cast<int>(list.Int(1));
        summary.identityText = list.Text(2);
        summary.recordCount = static_cast<std::uint64_t>(list.Int(3));
        summary.firstTime = static_cast<std::uint32_t>(list.Int(4));
        summary.lastTime = static_cast<std::uint32_t>(list.Int(5));
        summary.downloads = static_cast<std::uint32_t>(list.Int(6));
        devices.push_back(std::move(summary));
    }
    if (step != SQLITE_DONE) lastError_ = sqlite3_errmsg(db_);
    return devices;
}

std::vector<ArchiveDeviceSummary> HistoryArchive::Devices() { return Summaries(nullptr); }

std::optional<std::string> HistoryArchive::LatestSerial() {
    Statement latest(db_,
                     "SELECT d.serial FROM downloads w JOIN devices d ON d.id = w.device ORDER BY w.id DESC LIMIT 1");
    if (latest.Step() != SQLITE_ROW) return std::nullopt;
    return latest.Text(0);
}

ArchiveQuery PeriodQuery(const std::string& serial, const ChartModel& chart) {
    std::uint64_t seconds = 0;
    for (const ChartBar& bar : chart.bars) seconds += bar.seconds;
    const std::uint64_t last = std::uint64_t{chart.startTime} + (seconds ? seconds - 1 : 0);
    return {serial, chart.startTime, static_cast<std::uint32_t>(std::min<std::uint64_t>(last, 0xFFFFFFFF))};
}

std::optional<ArchiveDeviceSummary> HistoryArchive::Device(const std::string& serial) {
    std::vector<ArchiveDeviceSummary> found = Summaries(&serial);
    if (found.empty()) return std::nullopt;
    return std::move(found.front());
}

namespace {

std::optional<std::int64_t> DeviceId(sqlite3* db, const std::string& serial, std::string& error) {
    Statement find(db, "SELECT id FROM devices WHERE serial = ?");
    find.Bind(1, serial);
    const int step = find.Step();
    if (step == SQLITE_ROW) return find.Int(0);
    if (step != SQLITE_DONE) error = sqlite3_errmsg(db);
    return std::nullopt;
}

// The device's records with start in [from, to], oldest first; false on a read error.
bool ReadRecords(sqlite3* db, std::int64_t device, std::int64_t from, std::int64_t to,
                 std::vector<HistoryRecord>& records) {
    Statement range(db,
                    "SELECT start, status, commit_byte, spare2, pulses, length, spare14 FROM records"
                    " WHERE device = ? AND start BETWEEN ? AND ? ORDER BY start, occurrence");
    range.Bind(1, device).Bind(2, from).Bind(3, to);
    int step = 0;
    while ((step = range.Step()) == SQLITE_ROW) {
        HistoryRecord record;
        record.startTime = static_cast<std::uint32_t>(range.Int(0));
        ReadStoredFields(range, 1, record);
        records.push_back(record);
    }
    return step == SQLITE_DONE;
}

}  // namespace

std::optional<ArchiveDeviceHead> HistoryArchive::Head(const std::string& serial) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(db_, serial, lastError_);
    if (!device) return std::nullopt;
    ArchiveDeviceHead head;
    head.conversion = DoseConversionOf(0, 0, kCalibrationDefaultX100);
    Statement latest(db_,
                     "SELECT sensors, sensitivity, calibration_x100 FROM downloads WHERE device = ?"
                     " ORDER BY imported, id DESC LIMIT 1");
    latest.Bind(1, *device);
    int step = latest.Step();
    if (step == SQLITE_ROW) head.conversion = ConversionOfRow(latest.Int(0), latest.Int(1), latest.Int(2));
    else if (step != SQLITE_DONE) return lastError_ = sqlite3_errmsg(db_), std::nullopt;
    // The newest key of the device: one step down its index.
    Statement newest(db_, "SELECT start FROM records WHERE device = ? ORDER BY start DESC LIMIT 1");
    newest.Bind(1, *device);
    step = newest.Step();
    if (step == SQLITE_ROW) {
        head.newestTime = static_cast<std::uint32_t>(newest.Int(0));
        head.hasRecords = true;
    } else if (step != SQLITE_DONE) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return head;
}

std::optional<std::vector<HistoryRecord>> HistoryArchive::RecordsBetween(const std::string& serial,
                                                                         std::uint32_t from, std::uint32_t to) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(db_, serial, lastError_);
    if (!device) return std::nullopt;
    std::vector<HistoryRecord> records;
    if (!ReadRecords(db_, *device, from, to, records)) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return records;
}

std::optional<std::uint64_t> HistoryArchive::CountRecordsBefore(const std::string& serial, std::uint64_t time) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(db_, serial, lastError_);
    if (!device) return std::nullopt;
    Statement count(db_, "SELECT count(*) FROM records WHERE device = ? AND start < ?");
    count.Bind(1, *device).Bind(2, static_cast<std::int64_t>(time));
    if (count.Step() != SQLITE_ROW) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(count.Int(0));
}

std::optional<std::vector<HistoryArchive::DaySum>> HistoryArchive::DaySums(const std::string& serial,
                                                                            std::uint32_t fromDay,
                                                                            std::uint32_t toDay) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(db_, serial, lastError_);
    if (!device) return std::nullopt;
    Statement days(db_,
                   "SELECT day, pulses, seconds, max_rate FROM day_sums WHERE device = ? AND day BETWEEN ? AND ?"
                   " ORDER BY day");
    days.Bind(1, *device).Bind(2, fromDay).Bind(3, toDay);
    std::vector<DaySum> sums;
    int step = 0;
    while ((step = days.Step()) == SQLITE_ROW) {
        DaySum day;
        day.day = static_cast<std::uint32_t>(days.Int(0));
        day.sums.pulseSum = static_cast<std::uint64_t>(days.Int(1));
        day.sums.coveredSeconds = static_cast<std::uint32_t>(days.Int(2));
        day.sums.maximumRate = static_cast<std::uint32_t>(days.Int(3));
        sums.push_back(day);
    }
    if (step != SQLITE_DONE) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return sums;
}

std::optional<ArchiveRecordSource> HistoryArchive::LoadRecords(const std::string& serial) {
    std::optional<ArchiveDeviceHead> head = Head(serial);
    if (!head) return std::nullopt;
    std::optional<std::vector<HistoryRecord>> records = RecordsBetween(serial, 0, 0xFFFFFFFF);
    if (!records) return std::nullopt;
    return ArchiveRecordSource(std::move(*records), head->conversion);
}

std::optional<HistoryRecord> ArchivePeriodSource::RecordAt(std::uint32_t logical) const {
    if (logical >= count_) return std::nullopt;
    HistoryRecord stand;
    stand.status = kHistoryStatusExported2;
    stand.commit = 0;
    stand.startTime = 0;
    stand.pulses = 0;
    stand.length = 1;
    // Records before the period's reach ended before it; those after start after it.
    if (logical < before_) return stand;
    if (logical - before_ < records_.size()) return records_[logical - before_];
    stand.startTime = 0xFFFFFFFF;
    return stand;
}

namespace {

// The last second a record covers as the chart's walk counts it (a zero-length record, one).
std::uint64_t WalkEnd(const HistoryRecord& record) {
    return std::uint64_t{record.startTime} + (record.length == 0 ? 1 : record.length) - 1;
}

// The records the walk starts from at `first`: "ended" ones, at most one that holds it, then
// "later" ones; otherwise where it starts depends on the whole sequence.
bool WalkStartsPlainly(const std::vector<HistoryRecord>& records, std::uint32_t first) {
    int phase = 1;
    for (const HistoryRecord& record : records) {
        const int compared = CompareRecordTime(record, first);
        if (compared > phase || (compared == 0 && phase == 0)) return false;
        phase = compared;
    }
    return true;
}

}  // namespace

bool ArchivePeriodSource::SumBars(const std::vector<BarSpan>& bars, std::vector<WindowSums>& sums) const {
    constexpr std::uint32_t kDay = 86400;
    if (bars.empty()) return false;
    for (const BarSpan& bar : bars)
        if (bar.start % kDay != 0 || bar.seconds % kDay != 0 || bar.seconds == 0) return false;
    const std::uint32_t first = bars.front().start;
    const std::uint64_t last = std::uint64_t{bars.back().start} + bars.back().seconds - 1;
    // The walk's first record: the one that holds the period's first second comes in part.
    const std::uint32_t reach = first > 0xFFFF ? first - 0xFFFF : 0;
    std::optional<std::vector<HistoryRecord>> head = archive_->RecordsBetween(serial_, reach, first);
    if (!head || !WalkStartsPlainly(*head, first)) return false;
    std::optional<HistoryRecord> carried;
    for (const HistoryRecord& record : *head)
        if (record.Counts() && record.startTime < first && CompareRecordTime(record, first) == 0) carried = record;

    // At each bar's end the walk stops at the first record that reaches past it; the sums hold
    // only when no record after that one starts within the bar.
    std::vector<std::optional<HistoryRecord>> across(bars.size());
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const std::uint32_t end = static_cast<std::uint32_t>(std::uint64_t{bars[i].start} + bars[i].seconds - 1);
        std::optional<std::vector<HistoryRecord>> edge = archive_->RecordsBetween(serial_, end - 0xFFFF, end);
        if (!edge) return false;
        std::optional<std::size_t> stop;
        std::size_t counted = 0;
        for (std::size_t j = 0; j < edge->size(); ++j) {
            const HistoryRecord& record = (*edge)[j];
            if (!record.Counts()) continue;
            ++counted;
            if (!stop && WalkEnd(record) >= end) stop = counted;
        }
        if (stop && *stop != counted) return false;
        if (stop) {
            for (auto it = edge->rbegin(); it != edge->rend(); ++it) {
                if (!it->Counts()) continue;
                if (WalkEnd(*it) > end) across[i] = *it;
                break;
            }
        }
    }

    std::optional<std::vector<HistoryArchive::DaySum>> days =
        archive_->DaySums(serial_, first / kDay, static_cast<std::uint32_t>(last / kDay));
    if (!days) return false;
    sums.assign(bars.size(), WindowSums{});
    std::size_t day = 0;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const std::uint64_t ws = bars[i].start, we = ws + bars[i].seconds - 1;
        std::int64_t pulses = 0, covered = 0;
        std::uint32_t rate = 0;
        for (; day < days->size() && (*days)[day].day * std::uint64_t{kDay} <= we; ++day) {
            const WindowSums& d = (*days)[day].sums;
            pulses += static_cast<std::int64_t>(d.pulseSum);
            covered += d.coveredSeconds;
            rate = std::max(rate, d.maximumRate);
        }
        // In part: the record that reaches in from before the bar, and the one that reaches out.
        const std::optional<HistoryRecord>& in = i == 0 ? carried : across[i - 1];
        if (in) {
            const std::uint64_t f = in->length == 0 ? 1 : in->length;
            const std::uint64_t overlap = std::min(we, WalkEnd(*in)) - ws + 1;
            pulses += static_cast<std::int64_t>(in->pulses * overlap / f);
            covered += static_cast<std::int64_t>(overlap);
            if (f >= 10) rate = std::max(rate, static_cast<std::uint32_t>(std::uint64_t{in->pulses} * 10 / f));
        }
        if (const std::optional<HistoryRecord>& out = across[i]) {
            const std::uint64_t f = out->length == 0 ? 1 : out->length;
            const std::uint64_t overlap = we - out->startTime + 1;
            pulses -= static_cast<std::int64_t>(out->pulses - out->pulses * overlap / f);
            covered -= static_cast<std::int64_t>(f - overlap);
        }
        sums[i] = {static_cast<std::uint64_t>(pulses), static_cast<std::uint32_t>(covered), rate};
    }
    return true;
}

void ArchivePeriodSource::PreparePeriod(std::uint32_t first, std::uint32_t last) const {
    records_.clear();
    records_.shrink_to_fit();
    before_ = count_ = 0;
    error_.clear();
    auto failed = [this] {
        error_ = archive_->LastError();
        records_.clear();
        before_ = count_ = 0;
        if (onError) onError(error_);
    };
    // A record that starts this far before the period ends before it (lengths are 16 bits).
    const std::uint32_t reach = first > 0xFFFF ? first - 0xFFFF : 0;
    std::optional<std::vector<HistoryRecord>> records = archive_->RecordsBetween(serial_, reach, last);
    if (!records) return failed();
    records_ = std::move(*records);
    // The walk starts where a bisection over the whole sequence lands: the first record that
    // does not end before the period when the records read compare with its first second as
    // "ended" ones, at most one that holds it, then "later" ones; bisection over the records read
    // then lands on the same one. Otherwise the records before and after are counted so that
    // every index means what it means in the whole sequence.
    int phase = 1;  // +1 ended, 0 holding, -1 later: never rises
    bool monotonic = true;
    for (const HistoryRecord& record : records_) {
        const int compared = CompareRecordTime(record, first);
        if (compared > phase || (compared == 0 && phase == 0)) {
            monotonic = false;
            break;
        }
        phase = compared;
    }
    if (monotonic) {
        count_ = static_cast<std::uint32_t>(records_.size());
        return;
    }
    std::optional<std::uint64_t> before = archive_->CountRecordsBefore(serial_, reach);
    if (!before) return failed();
    std::optional<std::uint64_t> all = archive_->CountRecordsBefore(serial_, std::uint64_t{1} << 32);
    if (!all) return failed();
    before_ = static_cast<std::uint32_t>(*before);
    count_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(*all, 0xFFFFFFFF));
}

std::string ArchiveMergeLogLine(const std::string& serial, const MergeCounts& counts) {
    return "# ARCHIVE: " + std::to_string(counts.added) + " new records of " + serial + " (" +
           std::to_string(counts.updated) + " updated, " + std::to_string(counts.unchanged) + " unchanged)";
}

std::optional<MergeCounts> ArchiveCompletedDownload(const std::string& path, const HistoryPage& history,
                                                    const DeviceIdentity& identity, const ArchiveNotices& notices,
                                                    WorkerThread* worker) {
    if (!history.Loaded()) return std::nullopt;
    const ArchiveDownload download = ArchiveDownloadOf(history, identity);
    struct Outcome {
        std::optional<MergeCounts> counts;
        std::string error;
        std::vector<ArchiveNotice> notices;
    };
    // Touches only the download copied above and what it returns.
    auto merge = [&path, &download, language = notices.language] {
        Outcome outcome;
        std::unique_ptr<HistoryArchive> archive =
            HistoryArchive::Open(path, {nullptr, nullptr, language, &outcome.notices}, &outcome.error);
        if (archive) {
            outcome.counts = archive->Merge(download);
            if (!outcome.counts) outcome.error = archive->LastError();
        }
        return outcome;
    };
    const Outcome outcome = worker && notices.ui ? worker->Call(*notices.ui, merge) : merge();
    ReportArchiveNotices(outcome.notices, notices.ui, notices.log);
    if (outcome.counts) {
        if (notices.log) notices.log->LogLine(ArchiveMergeLogLine(download.serial, *outcome.counts));
        return outcome.counts;
    }
    if (notices.log) notices.log->LogError("Archive: " + outcome.error);
    return std::nullopt;
}

}  // namespace kalvo
