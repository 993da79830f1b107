#pragma once
// The live readings of every device, kept in the history archive's file beside its records.
// The last two weeks of each device are kept reading by reading; older readings are rolled up
// into one row per minute and unit (count, minimum, mean, maximum), so a year of readings once
// a second adds tens of MiB, not hundreds.
//
// Appends go through a connection of their own with synchronous=NORMAL: in WAL mode a commit is
// then a write without a sync, cheap enough for every reading, and a killed writer loses nothing
// it committed (only a power loss may take the last ones). The roll-up runs inside an append at
// most about once an hour of reading time, a bounded number of readings each time.
//
// One object is used by one thread at a time (see HistoryArchive).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/history_archive.h"
#include "live/live_trend.h"

struct sqlite3;

namespace kalvo {

// Readings younger than this (before the newest appended) are kept one by one.
inline constexpr std::int64_t kLiveRawKeptMs = 14 * 24 * 3600 * 1000LL;
inline constexpr std::int64_t kLiveMinuteMs = 60 * 1000;
// Reading time between two roll-ups, and the readings one roll-up takes at most.
inline constexpr std::int64_t kLiveCompactEveryMs = 3600 * 1000LL;
inline constexpr std::int64_t kLiveCompactRows = 5000;

// The device a reading came from, as the identification named it.
struct LiveDevice {
    std::string serial;  // FormatSerial of INF_1
    int boardCode = 0;   // family: 630 or 520
    std::string identityText;
};

class LiveArchive {
public:
    // Opens the archive at `path` as HistoryArchive::Open does (the same checks; a damaged file
    // is set aside) and adds the live tables when the file lacks them.
    static std::unique_ptr<LiveArchive> Open(const std::string& path, const ArchiveNotices& notices,
                                             std::string* error = nullptr,
                                             std::chrono::milliseconds busyTimeout = kArchiveBusyTimeout);
    ~LiveArchive();
    LiveArchive(const LiveArchive&) = delete;
    LiveArchive& operator=(const LiveArchive&) = delete;

    const std::string& Path() const { return path_; }

    // Stores readings (one transaction), then rolls up when it is time. A reading of the same
    // device and millisecond replaces the stored one. Refused when the serial is archived
    // under another family; false with LastError() on any failure, nothing stored then.
    bool Append(const LiveDevice& device, const LiveReading& reading);
    bool Append(const LiveDevice& device, std::span<const LiveReading> readings);

    // One roll-up step of `serial`: readings older than kLiveRawKeptMs before `newestMs` become
    // minute rows, at most about kLiveCompactRows of them. The readings rolled up (`more`: old
    // readings are left for another step); nullopt on failure.
    std::optional<std::int64_t> Compact(const std::string& serial, std::int64_t newestMs, bool* more = nullptr);

    // Whether the archive knows the device (by a download, an import or a reading); nullopt when
    // it cannot be read.
    std::optional<bool> HasDevice(const std::string& serial);

    // The readings of `serial` with times in [fromMs, toMs), oldest first: minute rows as a
    // reading at the minute's start with the mean as value and no dose. `visit` returning false
    // stops early. False when the archive cannot be read (an unknown serial has no readings).
    bool ForEachReading(const std::string& serial, std::int64_t fromMs, std::int64_t toMs,
                        const std::function<bool(const LiveReading&)>& visit);
    std::optional<std::vector<LiveReading>> Readings(const std::string& serial, std::int64_t fromMs,
                                                     std::int64_t toMs);
    // The day before `nowMs` (and anything stamped later), for the trend.
    std::optional<std::vector<LiveReading>> LastDay(const std::string& serial, std::int64_t nowMs);

    // The readings as LiveCsvText writes them, streamed into a file replaced whole. `lines` gets
    // the count of reading lines.
    bool WriteCsvFile(const std::string& serial, std::int64_t fromMs, std::int64_t toMs, const std::string& path,
                      std::uint64_t* lines = nullptr);

    const std::string& LastError() const { return lastError_; }

private:
    LiveArchive(sqlite3* db, std::string path, PresenceLock presence);
    struct Known {
        std::int64_t id = 0;
        int boardCode = 0;
    };
    std::optional<Known> DeviceRow(const LiveDevice& device);
    std::optional<std::int64_t> DeviceId(const std::string& serial);
    bool Fail();

    sqlite3* db_ = nullptr;
    std::string path_;
    PresenceLock presence_;
    std::string lastError_;
    std::unordered_map<std::string, Known> devices_;
    // Per serial: the reading time of the last roll-up, and whether it left readings behind.
    struct CompactState {
        std::int64_t lastMs = 0;
        bool more = true;
    };
    std::unordered_map<std::string, CompactState> compaction_;
};

// "device 123-45678 is archived as an R630, not an R520; reading not stored"
std::string LiveFamilyMismatchText(const std::string& serial, int archivedFamily, int boardCode);

}  // namespace kalvo
