#include "archive/live_archive.h"

#include <sqlite3.h>

#include <limits>

#include "archive/sqlite_statement.h"
#include "live/live_csv.h"
#include "platform/file_replacement.h"

namespace kalvo {

namespace {

constexpr const char* kLiveSchema =
    "CREATE TABLE IF NOT EXISTS live_readings("
    " device INTEGER NOT NULL,"
    " time_ms INTEGER NOT NULL,"
    " unit INTEGER NOT NULL,"
    " value REAL NOT NULL,"
    " dose TEXT NOT NULL,"
    " PRIMARY KEY(device, time_ms)) WITHOUT ROWID;"
    // Readings past the raw span: one row per minute (start, UTC milliseconds) and unit.
    "CREATE TABLE IF NOT EXISTS live_minutes("
    " device INTEGER NOT NULL,"
    " minute INTEGER NOT NULL,"
    " unit INTEGER NOT NULL,"
    " count INTEGER NOT NULL,"
    " minimum REAL NOT NULL,"
    " mean REAL NOT NULL,"
    " maximum REAL NOT NULL,"
    " PRIMARY KEY(device, minute, unit)) WITHOUT ROWID;";

using archive_sql::Exec;
using archive_sql::Statement;

std::int64_t MinuteOf(std::int64_t timeMs) {
    std::int64_t minute = timeMs / kLiveMinuteMs * kLiveMinuteMs;
    return minute > timeMs ? minute - kLiveMinuteMs : minute;
}

LiveReading ReadingOfRow(const Statement& row) {
    LiveReading reading;
    reading.timeMs = row.Int(0);
    reading.unitCode = static_cast<std::uint8_t>(row.Int(1));
    reading.value = row.Real(2);
    reading.doseText = row.Text(3);
    return reading;
}

}  // namespace

std::string LiveFamilyMismatchText(const std::string& serial, int archivedFamily, int boardCode) {
    return "device " + serial + " is archived as an " + FamilyText(archivedFamily) + ", not an " +
           FamilyText(boardCode) + "; reading not stored";
}

LiveArchive::LiveArchive(sqlite3* db, std::string path, PresenceLock presence)
    : db_(db), path_(std::move(path)), presence_(std::move(presence)) {}

LiveArchive::~LiveArchive() { sqlite3_close(db_); }

std::unique_ptr<LiveArchive> LiveArchive::Open(const std::string& path, const ArchiveNotices& notices,
                                               std::string* error, std::chrono::milliseconds busyTimeout) {
    // The history archive's open checks the file, sets a damaged one aside and starts the schema.
    std::unique_ptr<HistoryArchive> checked = HistoryArchive::Open(path, notices, error, busyTimeout);
    if (!checked) return nullptr;
    // This connection is one of the archive's for as long as it is open; taken while the check's
    // own hold still stands.
    PresenceLock presence(ArchiveLockPath(path));
    sqlite3* db = nullptr;
    auto fail = [&]() -> std::unique_ptr<LiveArchive> {
        if (error) *error = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    };
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
        return fail();
    sqlite3_busy_timeout(db, static_cast<int>(busyTimeout.count()));
    sqlite3_extended_result_codes(db, 1);
    if (!Exec(db, "PRAGMA journal_mode = WAL") || !Exec(db, "PRAGMA synchronous = NORMAL") ||
        !Exec(db, kLiveSchema))
        return fail();
    return std::unique_ptr<LiveArchive>(new LiveArchive(db, path, std::move(presence)));
}

bool LiveArchive::Fail() {
    lastError_ = sqlite3_errmsg(db_);
    if (!sqlite3_get_autocommit(db_)) Exec(db_, "ROLLBACK");
    return false;
}

std::optional<LiveArchive::Known> LiveArchive::DeviceRow(const LiveDevice& device) {
    if (auto found = devices_.find(device.serial); found != devices_.end()) return found->second;
    Statement find(db_, "SELECT id, board_code FROM devices WHERE serial = ?");
    find.Bind(1, device.serial);
    Known known;
    const int step = find.Step();
    if (step == SQLITE_ROW) {
        known = {find.Int(0), static_cast<int>(find.Int(1))};
    } else if (step == SQLITE_DONE) {
        Statement insert(db_, "INSERT INTO devices(serial, board_code, identity) VALUES(?, ?, ?)");
        insert.Bind(1, device.serial).Bind(2, std::int64_t{device.boardCode}).Bind(3, device.identityText);
        if (insert.Step() != SQLITE_DONE) return std::nullopt;
        known = {sqlite3_last_insert_rowid(db_), device.boardCode};
    } else {
        return std::nullopt;
    }
    devices_[device.serial] = known;
    return known;
}

std::optional<std::int64_t> LiveArchive::DeviceId(const std::string& serial) {
    if (auto found = devices_.find(serial); found != devices_.end()) return found->second.id;
    Statement find(db_, "SELECT id FROM devices WHERE serial = ?");
    find.Bind(1, serial);
    const int step = find.Step();
    if (step == SQLITE_ROW) return find.Int(0);
    if (step == SQLITE_DONE) return 0;  // no such device: no readings
    return std::nullopt;
}

std::optional<bool> LiveArchive::HasDevice(const std::string& serial) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(serial);
    if (!device) {
        Fail();
        return std::nullopt;
    }
    return *device != 0;
}

bool LiveArchive::Append(const LiveDevice& device, const LiveReading& reading) {
    return Append(device, std::span<const LiveReading>(&reading, 1));
}

bool LiveArchive::Append(const LiveDevice& device, std::span<const LiveReading> readings) {
    lastError_.clear();
    if (readings.empty()) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE")) return Fail();
    std::optional<Known> known = DeviceRow(device);
    if (!known) return Fail();
    // Another family's device with the same number: its readings would be mixed into this one's.
    if (known->boardCode != 0 && device.boardCode != 0 && known->boardCode != device.boardCode) {
        lastError_ = LiveFamilyMismatchText(device.serial, known->boardCode, device.boardCode);
        Exec(db_, "ROLLBACK");
        devices_.erase(device.serial);
        return false;
    }
    Statement insert(db_, "INSERT OR REPLACE INTO live_readings(device, time_ms, unit, value, dose) VALUES(?, ?, ?, ?, ?)");
    std::int64_t newest = std::numeric_limits<std::int64_t>::min();
    for (const LiveReading& reading : readings) {
        insert.Reset();
        insert.Bind(1, known->id)
            .Bind(2, reading.timeMs)
            .Bind(3, std::int64_t{reading.unitCode})
            .Bind(4, reading.value)
            .Bind(5, reading.doseText);
        if (insert.Step() != SQLITE_DONE) {
            devices_.erase(device.serial);  // the row may have been added by the rolled-back transaction
            return Fail();
        }
        newest = std::max(newest, reading.timeMs);
    }
    if (!Exec(db_, "COMMIT")) {
        devices_.erase(device.serial);
        return Fail();
    }

    // The roll-up: at the first append, then once an hour of readings, and at every append
    // while one left readings behind.
    auto [state, first] = compaction_.try_emplace(device.serial);
    CompactState& compact = state->second;
    if (first || compact.more || newest - compact.lastMs >= kLiveCompactEveryMs) {
        compact.lastMs = newest;
        bool more = false;
        // A failed roll-up is tried again at the next append; the reading itself is stored.
        compact.more = !Compact(device.serial, newest, &more) || more;
    }
    return true;
}

std::optional<std::int64_t> LiveArchive::Compact(const std::string& serial, std::int64_t newestMs, bool* more) {
    if (more) *more = false;
    std::optional<std::int64_t> device = DeviceId(serial);
    if (!device) {
        Fail();
        return std::nullopt;
    }
    if (*device == 0) return 0;
    auto failed = [this]() -> std::optional<std::int64_t> {
        Fail();
        return std::nullopt;
    };
    if (!Exec(db_, "BEGIN IMMEDIATE")) return failed();
    const std::int64_t cutoff = MinuteOf(newestMs - kLiveRawKeptMs);
    // Whole minutes only: a step ends at the minute of its last reading when it has too many.
    std::int64_t end = cutoff;
    {
        Statement bound(db_,
                        "SELECT time_ms FROM live_readings WHERE device = ? AND time_ms < ? ORDER BY time_ms"
                        " LIMIT 1 OFFSET ?");
        bound.Bind(1, *device).Bind(2, cutoff).Bind(3, kLiveCompactRows);
        const int step = bound.Step();
        if (step == SQLITE_ROW) {
            if (more) *more = true;
            end = MinuteOf(bound.Int(0));
            Statement oldest(db_, "SELECT min(time_ms) FROM live_readings WHERE device = ?");
            oldest.Bind(1, *device);
            if (oldest.Step() != SQLITE_ROW) return failed();
            // One minute holding more readings than a step: it goes whole.
            if (end <= oldest.Int(0)) end = MinuteOf(oldest.Int(0)) + kLiveMinuteMs;
        } else if (step != SQLITE_DONE) {
            return failed();
        }
    }
    // A minute already rolled up (readings stamped back in time) takes the new ones into its row.
    Statement roll(db_,
                   "INSERT INTO live_minutes(device, minute, unit, count, minimum, mean, maximum)"
                   " SELECT device, time_ms - (time_ms % 60000) AS m, unit, count(*), min(value), avg(value), max(value)"
                   " FROM live_readings WHERE device = ?1 AND time_ms >= 0 AND time_ms < ?2 GROUP BY m, unit"
                   " ON CONFLICT(device, minute, unit) DO UPDATE SET"
                   " count = count + excluded.count, minimum = min(minimum, excluded.minimum),"
                   " maximum = max(maximum, excluded.maximum),"
                   " mean = (mean * count + excluded.mean * excluded.count) / (count + excluded.count)");
    roll.Bind(1, *device).Bind(2, end);
    if (roll.Step() != SQLITE_DONE) return failed();
    Statement drop(db_, "DELETE FROM live_readings WHERE device = ? AND time_ms < ?");
    drop.Bind(1, *device).Bind(2, end);
    if (drop.Step() != SQLITE_DONE) return failed();
    const std::int64_t rolled = sqlite3_changes(db_);
    if (!Exec(db_, "COMMIT")) return failed();
    return rolled;
}

bool LiveArchive::ForEachReading(const std::string& serial, std::int64_t fromMs, std::int64_t toMs,
                                 const std::function<bool(const LiveReading&)>& visit) {
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(serial);
    if (!device) return Fail();
    if (*device == 0) return true;
    // Both tables in key order, merged by time: no sort, whatever the span.
    Statement minutes(db_,
                      "SELECT minute, unit, mean, '' FROM live_minutes WHERE device = ? AND minute >= ? AND minute < ?"
                      " ORDER BY minute, unit");
    Statement raw(db_,
                  "SELECT time_ms, unit, value, dose FROM live_readings WHERE device = ? AND time_ms >= ?"
                  " AND time_ms < ? ORDER BY time_ms");
    minutes.Bind(1, *device).Bind(2, fromMs).Bind(3, toMs);
    raw.Bind(1, *device).Bind(2, fromMs).Bind(3, toMs);
    int minuteStep = minutes.Step();
    int rawStep = raw.Step();
    while (minuteStep == SQLITE_ROW || rawStep == SQLITE_ROW) {
        const bool takeMinute =
            minuteStep == SQLITE_ROW && (rawStep != SQLITE_ROW || minutes.Int(0) <= raw.Int(0));
        Statement& row = takeMinute ? minutes : raw;
        if (!visit(ReadingOfRow(row))) return true;
        (takeMinute ? minuteStep : rawStep) = row.Step();
    }
    if (minuteStep != SQLITE_DONE || rawStep != SQLITE_DONE) return Fail();
    return true;
}

std::optional<std::vector<LiveReading>> LiveArchive::Readings(const std::string& serial, std::int64_t fromMs,
                                                             std::int64_t toMs) {
    std::vector<LiveReading> readings;
    // Counted first (an index walk, no row read): a vector grown by doubling would hold up to
    // three times the readings for a moment, and a day once a second is 86400 of them.
    lastError_.clear();
    std::optional<std::int64_t> device = DeviceId(serial);
    if (!device) return Fail(), std::nullopt;
    Statement count(db_,
                    "SELECT (SELECT count(*) FROM live_minutes WHERE device = ?1 AND minute >= ?2 AND minute < ?3)"
                    " + (SELECT count(*) FROM live_readings WHERE device = ?1 AND time_ms >= ?2 AND time_ms < ?3)");
    count.Bind(1, *device).Bind(2, fromMs).Bind(3, toMs);
    if (count.Step() != SQLITE_ROW) return Fail(), std::nullopt;
    readings.reserve(static_cast<std::size_t>(count.Int(0)));
    count.Reset();
    if (!ForEachReading(serial, fromMs, toMs, [&readings](const LiveReading& reading) {
            readings.push_back(reading);
            return true;
        }))
        return std::nullopt;
    return readings;
}

std::optional<std::vector<LiveReading>> LiveArchive::LastDay(const std::string& serial, std::int64_t nowMs) {
    return Readings(serial, nowMs - LiveTrend::kKeptMs, std::numeric_limits<std::int64_t>::max());
}

bool LiveArchive::WriteCsvFile(const std::string& serial, std::int64_t fromMs, std::int64_t toMs,
                               const std::string& path, std::uint64_t* lines) {
    FileReplacement file;
    if (!file.Begin(path)) {
        lastError_ = "cannot create " + path;
        return false;
    }
    std::uint64_t count = 0;
    bool written = file.Write(std::string(kLiveCsvHeader) + "\r\n");
    std::string chunk;
    const bool read = ForEachReading(serial, fromMs, toMs, [&](const LiveReading& reading) {
        chunk += LiveCsvLine(reading, LocalUtcOffsetSeconds(reading.timeMs));
        chunk += "\r\n";
        ++count;
        if (chunk.size() >= 64 * 1024) {
            written = written && file.Write(chunk);
            chunk.clear();
        }
        return written;
    });
    written = written && file.Write(chunk);
    if (!read || !written) {
        if (lastError_.empty()) lastError_ = "cannot write " + path;
        file.Discard();
        return false;
    }
    if (!file.Commit()) {
        lastError_ = "cannot write " + path;
        return false;
    }
    if (lines) *lines = count;
    return true;
}

}  // namespace kalvo
