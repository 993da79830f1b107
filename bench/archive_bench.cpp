// The history archive at size: what the window and kalvo-cli do with an archive of N minute
// records (a year is 525600, ten years 5.3 million): opening it, merging a full ring (65280
// records) new and again, the device list, the year, month and day charts read from the file as
// the window draws them, the CSV of one month, the import of a saved CSV (its own process), and
// the peak memory.
//
//   build-bench/bench/archive_bench [--records N] [--dir DIR] [--reuse] [--older] [--live]
//                                   [--import-days D]
//
// --live adds a year of live readings once a second of the same device to the file, as the
// archive keeps them (the last two weeks reading by reading, the rest in minute rows, written
// straight into its tables), and times the live archive's open, the trend's day, the CSV of an
// older month and one reading's append beside them.
// --reuse keeps an archive already in DIR (building ten years takes a while); every run merges
// its rings after the newest record there. An archive of the version before the day sums gets
// them at its first open, timed apart; --older first turns the archive into one of that version.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "archive/history_archive.h"
#include "archive/live_archive.h"
#include "history/history_chart.h"

namespace {

using namespace kalvo;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr std::uint32_t kRing = 65280;
constexpr std::uint16_t kLength = 60;
const std::string kSerial = "123-45678";

// Record i of the device's life: one a minute from 2016-01-01.
HistoryRecord RecordAt(std::uint32_t start, std::uint32_t i) {
    HistoryRecord record;
    record.status = 0xFE;
    record.commit = 0;
    record.spare2 = 0;
    record.spare14 = 0xFFFF;
    record.startTime = start + i * kLength;
    record.length = kLength;
    record.pulses = 20 + (i * 7919u) % 13u;
    return record;
}

const std::uint32_t kFirst = DateTimeToSeconds(MakeDeviceDateTime(2016, 1, 1));

ArchiveDownload Ring(std::uint32_t start, std::uint32_t count) {
    ArchiveDownload download;
    download.serial = kSerial;
    download.boardCode = kBoardCodeR630;
    download.identityText = "Orbelan RKD-630.41.0";
    download.conversion = DoseConversionOf(kBoardCodeR630, 0, 127);
    download.records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) download.records.push_back(RecordAt(start, i));
    download.deviceTime = download.records.back().startTime + 60;
    return download;
}

double PeakMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct Timing {
    double median = 0, worst = 0;
};

template <typename F>
Timing Time(int runs, F&& f) {
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        f();
        times.push_back(Ms(Clock::now() - start));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

constexpr std::int64_t kDayMs = 86400 * 1000LL;
// UTC milliseconds of a device time (seconds since 2000).
std::int64_t UtcMs(std::uint32_t deviceSeconds) { return (std::int64_t{deviceSeconds} + 946684800) * 1000; }

// Live reading at `timeMs`: a background rate with two decimals, the dose every tenth second.
LiveReading LiveAt(std::int64_t timeMs) {
    const std::int64_t i = timeMs / 1000;
    LiveReading reading;
    reading.timeMs = timeMs;
    reading.value = static_cast<double>(10 + (i * 7919) % 23) / 100.0;
    if (i % 10 == 0) reading.doseText = std::to_string(100 + i / 36000 % 1000) + ",25 uSv";
    return reading;
}

const LiveDevice kLiveDevice{kSerial, kBoardCodeR630, "Orbelan RKD-630.41.0"};

std::optional<std::int64_t> QueryInt(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    std::optional<std::int64_t> value;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW &&
        sqlite3_column_type(statement, 0) != SQLITE_NULL)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return value;
}

// The newest live reading held; nullopt when the file has none.
std::optional<std::int64_t> NewestLiveMs(const std::string& path) {
    sqlite3* db = nullptr;
    std::optional<std::int64_t> newest;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
        newest = QueryInt(db, "SELECT max(time_ms) FROM live_readings");
    sqlite3_close(db);
    return newest;
}

// A year of readings once a second up to `endMs`, as the roll-up leaves them: minute rows up to
// two weeks before the end, then every reading. Written straight into the live tables, one
// transaction.
bool BuildLiveYear(const std::string& path, std::int64_t endMs) {
    const auto start = Clock::now();
    {
        // The live tables and the device's row, as the live archive makes them.
        std::unique_ptr<LiveArchive> live = LiveArchive::Open(path, {});
        if (!live || !live->Append(kLiveDevice, LiveAt(endMs))) return false;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return false;
    bool ok = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    const std::string findDevice = "SELECT id FROM devices WHERE serial = '" + kSerial + "'";
    const std::int64_t device = QueryInt(db, findDevice.c_str()).value_or(0);
    sqlite3_stmt* minute = nullptr;
    sqlite3_stmt* raw = nullptr;
    ok = ok && device != 0 &&
         sqlite3_prepare_v2(db,
                            "INSERT INTO live_minutes(device, minute, unit, count, minimum, mean, maximum)"
                            " VALUES(?, ?, 0, 60, 0.10, ?, 0.32)",
                            -1, &minute, nullptr) == SQLITE_OK &&
         sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO live_readings(device, time_ms, unit, value, dose) VALUES(?, ?, 0, ?, ?)",
                            -1, &raw, nullptr) == SQLITE_OK;
    const std::int64_t rawFrom = (endMs - kLiveRawKeptMs) / kLiveMinuteMs * kLiveMinuteMs;
    std::int64_t minutes = 0, readings = 0;
    for (std::int64_t m = (endMs - 365 * kDayMs) / kLiveMinuteMs * kLiveMinuteMs; ok && m < rawFrom; m += kLiveMinuteMs) {
        sqlite3_bind_int64(minute, 1, device);
        sqlite3_bind_int64(minute, 2, m);
        sqlite3_bind_double(minute, 3, 0.1 + static_cast<double>(m / kLiveMinuteMs % 13) / 100.0);
        ok = sqlite3_step(minute) == SQLITE_DONE && sqlite3_reset(minute) == SQLITE_OK;
        ++minutes;
    }
    for (std::int64_t t = rawFrom + 137; ok && t <= endMs; t += 1000) {
        const LiveReading reading = LiveAt(t);
        sqlite3_bind_int64(raw, 1, device);
        sqlite3_bind_int64(raw, 2, t);
        sqlite3_bind_double(raw, 3, reading.value);
        sqlite3_bind_text(raw, 4, reading.doseText.c_str(), -1, SQLITE_TRANSIENT);
        ok = sqlite3_step(raw) == SQLITE_DONE && sqlite3_reset(raw) == SQLITE_OK;
        ++readings;
    }
    sqlite3_finalize(minute);
    sqlite3_finalize(raw);
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    std::printf("live readings: %lld minute rows and %lld readings written in %.0f ms\n",
                static_cast<long long>(minutes), static_cast<long long>(readings), Ms(Clock::now() - start));
    return ok;
}

// The import in a process of its own, so its peak memory is its own.
int ImportOnly(const std::string& csv, const std::string& archivePath) {
    std::filesystem::remove(archivePath);
    auto archive = HistoryArchive::Open(archivePath, {});
    if (!archive) return 1;
    const auto start = Clock::now();
    ImportError error;
    std::optional<MergeCounts> counts = archive->ImportCsv(csv, kSerial, &error);
    if (!counts) {
        std::fprintf(stderr, "import: line %u: %s\n", error.line, error.reason.c_str());
        return 1;
    }
    std::printf("import of the CSV (%u records): %.0f ms, peak memory %.1f MiB\n", counts->added,
                Ms(Clock::now() - start), PeakMiB());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t records = 1000000;
    std::uint32_t importDays = 0;
    std::string dir;
    bool reuse = false, older = false, live = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--records") records = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10)), ++i;
        else if (arg == "--dir") dir = value, ++i;
        else if (arg == "--reuse") reuse = true;
        else if (arg == "--older") older = true;
        else if (arg == "--live") live = true;
        else if (arg == "--import-days") importDays = static_cast<std::uint32_t>(std::strtoul(value, nullptr, 10)), ++i;
        else if (arg == "--import-only" && i + 2 < argc) return ImportOnly(argv[i + 1], argv[i + 2]);
    }
    bool own = false;
    if (dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "archive-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return 1;
        dir = pattern;
        own = true;
    }
    const std::string path = dir + "/history.sqlite";
    std::printf("archive %s\n", path.c_str());

    const bool built = !reuse || !std::filesystem::exists(path);
    if (built) {
        std::filesystem::remove(path);
        // As a device's downloads leave it: rings that overlap by half.
        const auto start = Clock::now();
        auto archive = HistoryArchive::Open(path, {});
        if (!archive) return 1;
        for (std::uint32_t first = 0; first < records; first += kRing / 2) {
            const std::uint32_t count = std::min(kRing, records - first);
            if (!archive->Merge(Ring(RecordAt(kFirst, first).startTime, count))) return 1;
            if (first + count >= records) break;
        }
        std::printf("build: %u records in %.0f ms (peak memory so far %.1f MiB)\n", records, Ms(Clock::now() - start),
                    PeakMiB());
    }
    if (older) {
        // As the version before the day sums left it.
        sqlite3* db = nullptr;
        if (sqlite3_open(path.c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "DROP TABLE day_sums; PRAGMA user_version = 1", nullptr, nullptr, nullptr) != SQLITE_OK)
            return 1;
        sqlite3_close(db);
    }
    if (older || !built) {
        const auto start = Clock::now();
        auto archive = HistoryArchive::Open(path, {});
        if (!archive) return 1;
        std::printf("first open of the archive kept (adds the day sums once when it lacks them): %.0f ms\n",
                    Ms(Clock::now() - start));
    }

    if (live && !NewestLiveMs(path)) {
        auto archive = HistoryArchive::Open(path, {});
        std::optional<ArchiveDeviceHead> head = archive ? archive->Head(kSerial) : std::nullopt;
        if (!head) return 1;
        archive.reset();
        if (!BuildLiveYear(path, UtcMs(head->newestTime))) return 1;
    }

    Timing open = Time(5, [&] {
        if (!HistoryArchive::Open(path, {})) std::exit(1);
    });
    std::printf("open: median %.1f ms, worst %.1f ms\n", open.median, open.worst);

    std::shared_ptr<HistoryArchive> archive = HistoryArchive::Open(path, {});
    if (!archive) return 1;
    std::optional<ArchiveDeviceHead> head = archive->Head(kSerial);
    if (!head) return 1;
    // Five rings one after another, each new, then the last one again five times; the ring is
    // made before the clock starts. About every second new ring's commit also checkpoints the WAL
    // (SQLite's automatic checkpoint at 1000 pages): that is the worst.
    std::uint32_t next = head->newestTime + kLength;
    std::optional<MergeCounts> counts;
    std::vector<double> newTimes, againTimes;
    ArchiveDownload ring;
    for (int run = 0; run < 5; ++run) {
        ring = Ring(next, kRing);
        const auto begun = Clock::now();
        counts = archive->Merge(ring);
        newTimes.push_back(Ms(Clock::now() - begun));
        if (!counts || counts->added != kRing) return 1;
        next += kRing * kLength;
    }
    for (int run = 0; run < 5; ++run) {
        const auto begun = Clock::now();
        counts = archive->Merge(ring);
        againTimes.push_back(Ms(Clock::now() - begun));
        if (!counts || counts->unchanged != kRing) return 1;
    }
    for (auto* times : {&newTimes, &againTimes}) std::sort(times->begin(), times->end());
    std::printf("merge of a full ring (%u records), all new: median %.1f ms, best %.1f ms, worst %.1f ms\n", kRing,
                newTimes[2], newTimes[0], newTimes[4]);
    std::printf("merge of the same ring again: median %.1f ms, best %.1f ms, worst %.1f ms\n", againTimes[2],
                againTimes[0], againTimes[4]);

    Timing headTime = Time(9, [&] { head = archive->Head(kSerial); });
    std::printf("device head (conversion, newest record): median %.2f ms\n", headTime.median);
    Timing listTime = Time(5, [&] {
        if (archive->Devices().empty()) std::exit(1);
    });
    std::printf("device list (kalvo-cli archive list): median %.2f ms\n", listTime.median);
    const std::uint32_t newest = head->newestTime;
    std::printf("records: %s to %s\n", DateText(SecondsToDateTime(kFirst)).c_str(),
                DateText(SecondsToDateTime(newest)).c_str());

    // The charts as the window draws them: each draw reads its period from the file.
    const std::uint32_t middle = kFirst + (newest - kFirst) / 2;
    for (HistoryLevel level : {HistoryLevel::Year, HistoryLevel::Month, HistoryLevel::Day, HistoryLevel::Minute}) {
        for (std::uint32_t at : {middle, newest}) {
            ArchivePeriodSource source(archive, kSerial, *head);
            ChartRequest request{level, SecondsToDateTime(at), head->conversion, true, InterfaceLanguage::English};
            std::size_t bars = 0;
            Timing t = Time(9, [&] { bars = DrawHistoryChart(source, request).bars.size(); });
            std::printf("chart of level %d at %s: median %.2f ms, worst %.2f ms (%zu bars, %zu records held)\n",
                        static_cast<int>(level), at == newest ? "the newest record" : "the middle",
                        t.median, t.worst, bars, source.HeldRecords());
        }
    }

    // The CSV of one month, as `archive csv --from --to` writes it.
    const DeviceDateTime month = PeriodStart(HistoryLevel::Month, SecondsToDateTime(middle));
    const std::uint32_t monthFrom = DateTimeToSeconds(month);
    const std::uint32_t monthTo = DateTimeToSeconds(MonthForward(month)) - 1;
    std::uint32_t lines = 0;
    std::uint64_t bytes = 0;
    Timing csv = Time(5, [&] {
        bytes = 0;
        archive->WriteCsv({kSerial, monthFrom, monthTo}, [&](std::string_view data) {
            bytes += data.size();
            return true;
        }, &lines);
    });
    std::printf("CSV of one month: median %.1f ms, worst %.1f ms (%u lines, %.1f MiB)\n", csv.median, csv.worst, lines,
                static_cast<double>(bytes) / 1048576.0);
    if (live) {
        const std::int64_t endMs = NewestLiveMs(path).value_or(0);
        Timing liveOpen = Time(5, [&] {
            if (!LiveArchive::Open(path, {})) std::exit(1);
        });
        std::printf("live archive open: median %.1f ms, worst %.1f ms\n", liveOpen.median, liveOpen.worst);
        std::unique_ptr<LiveArchive> liveArchive = LiveArchive::Open(path, {});
        if (!liveArchive) return 1;
        std::size_t readings = 0;
        Timing day = Time(5, [&] {
            std::optional<std::vector<LiveReading>> last = liveArchive->LastDay(kSerial, endMs);
            readings = last ? last->size() : 0;
        });
        std::printf("the trend's day (LastDay): median %.1f ms, worst %.1f ms (%zu readings)\n", day.median, day.worst,
                    readings);
        // A month two months back: minute rows.
        const std::int64_t monthEnd = endMs - 60 * kDayMs, monthStart = monthEnd - 30 * kDayMs;
        const std::string liveCsv = dir + "/live.csv";
        std::uint64_t liveLines = 0;
        Timing csvLive = Time(3, [&] {
            if (!liveArchive->WriteCsvFile(kSerial, monthStart, monthEnd, liveCsv, &liveLines)) std::exit(1);
        });
        std::printf("live CSV of one month of minute rows: median %.1f ms, worst %.1f ms (%llu lines)\n",
                    csvLive.median, csvLive.worst, static_cast<unsigned long long>(liveLines));
        std::filesystem::remove(liveCsv);
        // The next second's reading, with the roll-up a first append runs.
        auto start = Clock::now();
        if (!liveArchive->Append(kLiveDevice, LiveAt(endMs + 1000))) return 1;
        std::printf("append of one reading (first of the connection, with its roll-up): %.1f ms\n",
                    Ms(Clock::now() - start));
        start = Clock::now();
        if (!liveArchive->Append(kLiveDevice, LiveAt(endMs + 2000))) return 1;
        std::printf("append of the next reading: %.2f ms\n", Ms(Clock::now() - start));
        // The live connection's WAL is its work, not a crash's: no full check of the file.
        Timing beside = Time(5, [&] {
            if (!HistoryArchive::Open(path, {})) std::exit(1);
        });
        std::printf("open beside the live connection and its WAL (%.1f MiB): median %.1f ms, worst %.1f ms\n",
                    static_cast<double>(std::filesystem::file_size(path + "-wal")) / 1048576.0, beside.median,
                    beside.worst);
        // A merge while the live connection is open, as in the window.
        ring = Ring(next, kRing);
        start = Clock::now();
        counts = archive->Merge(ring);
        std::printf("merge of a full ring beside the open live connection: %.1f ms (%u new)\n",
                    Ms(Clock::now() - start), counts ? counts->added : 0);
    }
    std::printf("peak memory of everything above: %.1f MiB\n", PeakMiB());

    if (importDays > 0) {
        // A saved CSV of the last days, imported into a new archive by a process of its own.
        const std::string csvPath = dir + "/import.csv";
        const std::uint32_t from = newest > importDays * 86400u ? newest - importDays * 86400u : 0;
        if (!archive->WriteCsvFile({kSerial, from, newest}, csvPath, &lines)) return 1;
        std::printf("CSV of %u days written: %u lines, %.1f MiB\n", importDays, lines,
                    static_cast<double>(std::filesystem::file_size(csvPath)) / 1048576.0);
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
            const std::string target = dir + "/import.sqlite";
            ::execl(self.c_str(), self.c_str(), "--import-only", csvPath.c_str(), target.c_str(),
                    static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        std::filesystem::remove(csvPath);
        std::filesystem::remove(dir + "/import.sqlite");
        std::filesystem::remove(dir + "/import.sqlite.lock");
    }

    archive.reset();
    std::printf("file: %.1f MiB\n", static_cast<double>(std::filesystem::file_size(path)) / 1048576.0);
    if (own) std::filesystem::remove_all(dir);
    return 0;
}
