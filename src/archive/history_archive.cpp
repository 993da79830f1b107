#include "archive/history_archive.h"

#include <sqlite3.h>
#ifdef _WIN32
#include "platform/win32_text.h"
#else
#include <unistd.h>  // link, unlink: a move that never replaces a file
#endif

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unordered_map>

#include "archive/archive_texts.h"
#include "measure/history_download.h"

namespace kalvo {

namespace {

// "KLVA": the archive's own mark in the SQLite header.
constexpr int kApplicationId = 0x4B4C5641;
constexpr int kSchemaVersion = 1;
// The window and kalvo-cli may merge at the same time; a merge of a full ring takes well
// under this.
constexpr int kBusyTimeoutMs = 10000;

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
    " PRIMARY KEY(device, start, occurrence)) WITHOUT ROWID;";

// A prepared statement, finalized on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool Ok() const { return stmt_ != nullptr; }
    Statement& Bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    Statement& Bind(int index, const std::string& value) {
        sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW or SQLITE_DONE, else an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    void Reset() {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
    std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string Text(int column) const {
        const unsigned char* text = sqlite3_column_text(stmt_, column);
        return text ? reinterpret_cast<const char*>(text) : "";
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

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

enum class FileState { Usable, New, Foreign, Damaged, Newer };

// SQLite takes a file too short for a page for an empty database and would write over it; only
// an empty file (a new archive whose first pages are still in its WAL) may lack the header.
bool HeaderPlausible(const std::string& path) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size == 0) return true;  // missing, or nothing to overwrite; SQLite reports the rest
    static constexpr std::string_view kMagic{"SQLite format 3\0", 16};
    char header[16] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(header, sizeof header);
    return size >= 100 && in.gcount() == sizeof header && std::string_view(header, sizeof header) == kMagic;
}

FileState Examine(sqlite3* db, const std::string& path) {
    if (!HeaderPlausible(path)) return FileState::Damaged;
    std::optional<std::int64_t> application = QueryInt(db, "PRAGMA application_id");
    std::optional<std::int64_t> version = QueryInt(db, "PRAGMA user_version");
    std::optional<std::int64_t> objects = QueryInt(db, "SELECT count(*) FROM sqlite_master");
    if (!application || !version || !objects) return FileState::Damaged;
    if (*application == 0 && *version == 0 && *objects == 0) return FileState::New;
    if (*application != kApplicationId) return FileState::Foreign;
    if (*version > kSchemaVersion) return FileState::Newer;
    if (*version != kSchemaVersion) return FileState::Foreign;
    std::optional<std::string> check = QueryText(db, "PRAGMA quick_check");
    if (!check || *check != "ok") return FileState::Damaged;
    return FileState::Usable;
}

sqlite3* OpenConnection(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    return db;
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

HistoryArchive::HistoryArchive(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}

HistoryArchive::~HistoryArchive() { sqlite3_close(db_); }

std::unique_ptr<HistoryArchive> HistoryArchive::Open(const std::string& path, const ArchiveNotices& notices,
                                                     std::string* error) {
    auto fail = [&](std::string why) -> std::unique_ptr<HistoryArchive> {
        if (error) *error = std::move(why);
        return nullptr;
    };
    if (path.empty()) return fail("no data folder (neither XDG_DATA_HOME nor HOME is set)");
    if (!MakeFolders(std::filesystem::path(path).parent_path())) return fail("cannot create the folder of " + path);

    std::string setAside;
    for (int attempt = 0; attempt < 2; ++attempt) {
        sqlite3* db = OpenConnection(path);
        if (!db) return fail("cannot open " + path);
        // The file is only looked at until it is known to be ours: closing must not checkpoint a
        // damaged file's WAL into it or delete the WAL.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        FileState state = Examine(db, path);
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
            if (notices.log)
                notices.log->LogLine(std::string("# ARCHIVE: ") +
                                     (state == FileState::Foreign ? "foreign" : "damaged") + " file moved to " +
                                     setAside + ", new archive started");
            if (notices.ui) notices.ui->ShowMessage(MessageKind::Warning, text);
            continue;
        }
        if (!Exec(db, "PRAGMA journal_mode = WAL") || !Exec(db, "PRAGMA synchronous = FULL") ||
            (state == FileState::New && !CreateSchema(db))) {
            std::string why = sqlite3_errmsg(db);
            sqlite3_close(db);
            return fail("cannot prepare " + path + ": " + why);
        }
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        std::unique_ptr<HistoryArchive> archive(new HistoryArchive(db, path));
        archive->setAside_ = setAside;
        return archive;
    }
    return fail("cannot open " + path);
}

std::vector<HistoryArchive::KeyedRecord> HistoryArchive::Keyed(const std::vector<HistoryRecord>& records) {
    std::vector<KeyedRecord> keyed;
    keyed.reserve(records.size());
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
    Statement find(db_,
                   "SELECT status, commit_byte, spare2, pulses, length, spare14 FROM records"
                   " WHERE device = ? AND start = ? AND occurrence = ?");
    Statement insert(db_,
                     "INSERT INTO records(device, start, occurrence, status, commit_byte, spare2, pulses, length,"
                     " spare14, download) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    Statement update(db_,
                     "UPDATE records SET status = ?, commit_byte = ?, spare2 = ?, pulses = ?, length = ?,"
                     " spare14 = ?, download = ? WHERE device = ? AND start = ? AND occurrence = ?");
    if (!addDownload.Ok() || !find.Ok() || !insert.Ok() || !update.Ok()) return failed();

    MergeCounts counts;
    std::uint32_t merged = 0;
    for (const auto& [conversion, records] : parts) {
        addDownload.Reset();
        addDownload.Bind(1, device)
            .Bind(2, static_cast<std::int64_t>(std::time(nullptr)))
            .Bind(3, deviceTime)
            .Bind(4, imported ? 1 : 0)
            .Bind(5, conversion.sensors)
            .Bind(6, conversion.sensitivity)
            .Bind(7, conversion.calibrationX100);
        if (addDownload.Step() != SQLITE_DONE) return failed();
        const std::int64_t downloadId = sqlite3_last_insert_rowid(db_);
        bool used = false;

        for (const auto& [record, occurrence] : records) {
            find.Reset();
            find.Bind(1, device).Bind(2, record.startTime).Bind(3, occurrence);
            const int step = find.Step();
            if (step == SQLITE_ROW) {
                HistoryRecord held = record;
                held.status = static_cast<std::uint8_t>(find.Int(0));
                held.commit = static_cast<std::uint8_t>(find.Int(1));
                held.spare2 = static_cast<std::uint16_t>(find.Int(2));
                held.pulses = static_cast<std::uint32_t>(find.Int(3));
                held.length = static_cast<std::uint16_t>(find.Int(4));
                held.spare14 = static_cast<std::uint16_t>(find.Int(5));
                // An import never replaces what a download brought: the file carries less.
                if (held == record || imported) {
                    ++counts.unchanged;
                } else {
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
                        .Bind(10, occurrence);
                    if (update.Step() != SQLITE_DONE) return failed();
                    ++counts.updated;
                    used = true;
                }
            } else if (step == SQLITE_DONE) {
                insert.Reset();
                insert.Bind(1, device)
                    .Bind(2, record.startTime)
                    .Bind(3, occurrence)
                    .Bind(4, record.status)
                    .Bind(5, record.commit)
                    .Bind(6, record.spare2)
                    .Bind(7, record.pulses)
                    .Bind(8, record.length)
                    .Bind(9, record.spare14)
                    .Bind(10, downloadId);
                if (insert.Step() != SQLITE_DONE) return failed();
                ++counts.added;
                used = true;
            } else {
                return failed();
            }
            ++merged;
            if (hook.every && hook.hook && merged % hook.every == 0) hook.hook(merged);
        }
        // An import's conversion that no record took is not kept; a download always is (it
        // says when the device was read).
        if (imported && !used) {
            Statement drop(db_, "DELETE FROM downloads WHERE id = ?");
            drop.Bind(1, downloadId);
            if (drop.Step() != SQLITE_DONE) return failed();
        }
    }
    if (!Exec(db_, "COMMIT")) return failed();
    return counts;
}

std::vector<ArchiveDeviceSummary> HistoryArchive::Devices() {
    std::vector<ArchiveDeviceSummary> devices;
    Statement list(db_,
                   "SELECT d.serial, d.board_code, d.identity,"
                   " (SELECT count(*) FROM records r WHERE r.device = d.id),"
                   " (SELECT min(start) FROM records r WHERE r.device = d.id),"
                   " (SELECT max(start) FROM records r WHERE r.device = d.id),"
                   " (SELECT count(*) FROM downloads w WHERE w.device = d.id)"
                   " FROM devices d ORDER BY d.serial");
    while (list.Step() == SQLITE_ROW) {
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
    return devices;
}

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
    for (ArchiveDeviceSummary& summary : Devices())
        if (summary.serial == serial) return std::move(summary);
    return std::nullopt;
}

std::optional<ArchiveRecordSource> HistoryArchive::LoadRecords(const std::string& serial) {
    Statement find(db_, "SELECT id FROM devices WHERE serial = ?");
    find.Bind(1, serial);
    if (find.Step() != SQLITE_ROW) return std::nullopt;
    const std::int64_t device = find.Int(0);

    DoseConversion conversion = DoseConversionOf(0, 0, kCalibrationDefaultX100);
    Statement latest(db_,
                     "SELECT sensors, sensitivity, calibration_x100 FROM downloads WHERE device = ?"
                     " ORDER BY imported, id DESC LIMIT 1");
    latest.Bind(1, device);
    if (latest.Step() == SQLITE_ROW) conversion = ConversionOfRow(latest.Int(0), latest.Int(1), latest.Int(2));

    std::vector<HistoryRecord> records;
    Statement count(db_, "SELECT count(*) FROM records WHERE device = ?");
    count.Bind(1, device);
    if (count.Step() == SQLITE_ROW) records.reserve(static_cast<std::size_t>(count.Int(0)));
    Statement all(db_,
                  "SELECT status, commit_byte, spare2, start, pulses, length, spare14 FROM records"
                  " WHERE device = ? ORDER BY start, occurrence");
    all.Bind(1, device);
    int step = 0;
    while ((step = all.Step()) == SQLITE_ROW) {
        HistoryRecord record;
        record.status = static_cast<std::uint8_t>(all.Int(0));
        record.commit = static_cast<std::uint8_t>(all.Int(1));
        record.spare2 = static_cast<std::uint16_t>(all.Int(2));
        record.startTime = static_cast<std::uint32_t>(all.Int(3));
        record.pulses = static_cast<std::uint32_t>(all.Int(4));
        record.length = static_cast<std::uint16_t>(all.Int(5));
        record.spare14 = static_cast<std::uint16_t>(all.Int(6));
        records.push_back(record);
    }
    if (step != SQLITE_DONE) {
        lastError_ = sqlite3_errmsg(db_);
        return std::nullopt;
    }
    return ArchiveRecordSource(std::move(records), conversion);
}

std::string ArchiveMergeLogLine(const std::string& serial, const MergeCounts& counts) {
    return "# ARCHIVE: " + std::to_string(counts.added) + " new records of " + serial + " (" +
           std::to_string(counts.updated) + " updated, " + std::to_string(counts.unchanged) + " unchanged)";
}

std::optional<MergeCounts> ArchiveCompletedDownload(const std::string& path, const HistoryPage& history,
                                                    const DeviceIdentity& identity, const ArchiveNotices& notices) {
    if (!history.Loaded()) return std::nullopt;
    std::string error;
    std::unique_ptr<HistoryArchive> archive = HistoryArchive::Open(path, notices, &error);
    std::optional<MergeCounts> counts;
    if (archive) {
        const ArchiveDownload download = ArchiveDownloadOf(history, identity);
        counts = archive->Merge(download);
        if (counts) {
            if (notices.log) notices.log->LogLine(ArchiveMergeLogLine(download.serial, *counts));
            return counts;
        }
        error = archive->LastError();
    }
    if (notices.log) notices.log->LogError("Archive: " + error);
    return std::nullopt;
}

}  // namespace kalvo
