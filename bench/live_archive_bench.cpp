// The live readings in the archive: what one reading costs to store (alone, and once a year of
// readings once a second is held, with the hourly roll-up among them), and the file a year of
// them leaves: two weeks reading by reading, the rest in minute rows. Then the trend's day and
// the CSV of one month out of it. Last, what a reading costs the window's thread, which hands it
// to the archive's worker (ArchivedReadings), against that full archive.
//
//   build-bench/bench/live_archive_bench [--days N] [--dir DIR]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/archived_readings.h"
#include "archive/live_archive.h"

namespace {

using namespace kalvo;
using Clock = std::chrono::steady_clock;

double Us(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

const LiveDevice kDevice{"123-45678", kBoardCodeR630, "Orbelan RKD-630.41.0"};
constexpr std::int64_t kStartMs = 1'704'067'200'000;  // 2024-01-01 00:00:00 UTC

// Reading i, once a second: a background rate with two decimals, the dose every tenth.
LiveReading ReadingNumber(std::int64_t i) {
    LiveReading reading;
    reading.timeMs = kStartMs + i * 1000 + 137;
    reading.unitCode = 0;
    reading.value = static_cast<double>(10 + (i * 7919) % 23) / 100.0;
    if (i % 10 == 0) reading.doseText = std::to_string(100 + i / 36000) + ",25 uSv";
    return reading;
}

double MiB(const std::string& path) {
    std::error_code ec;
    std::uintmax_t size = 0;
    for (const char* suffix : {"", "-wal"}) {
        const std::uintmax_t part = std::filesystem::file_size(path + suffix, ec);
        if (!ec) size += part;
    }
    return static_cast<double>(size) / (1024.0 * 1024.0);
}

// A front end that shows nothing: the bench's thread stands for the window's.
class QuietUi : public UiPort {
public:
    void ShowMessage(MessageKind, const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
    void ShowStatus(const std::string&, StatusStyle) override {}
    void ShowProgress(int, int) override {}
    void ReplaceLastLogLine(const std::string&) override {}
    void ShowBusy() override {}
    void HideBusy() override {}
    void Pump() override {}
    void Wait(int) override {}
};

struct Costs {
    double mean = 0, p50 = 0, p99 = 0, max = 0;
};

// `count` single appends from reading `first` on, each timed; those over 1 ms are counted.
int slowAppends = 0;
Costs TimeAppends(LiveArchive& archive, std::int64_t first, int count) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const LiveReading reading = ReadingNumber(first + i);
        const Clock::time_point start = Clock::now();
        if (!archive.Append(kDevice, reading)) {
            std::fprintf(stderr, "append: %s\n", archive.LastError().c_str());
            std::exit(1);
        }
        us.push_back(Us(Clock::now() - start));
        if (us.back() > 1000) ++slowAppends;
    }
    Costs costs;
    for (double u : us) costs.mean += u;
    costs.mean /= static_cast<double>(us.size());
    std::sort(us.begin(), us.end());
    costs.p50 = us[us.size() / 2];
    costs.p99 = us[us.size() * 99 / 100];
    costs.max = us.back();
    return costs;
}

void Print(const char* what, const Costs& c) {
    std::printf("%-40s mean %6.1f us  p50 %6.1f us  p99 %6.1f us  max %8.1f us  over 1 ms: %d\n", what, c.mean,
                c.p50, c.p99, c.max, slowAppends);
    slowAppends = 0;
}

}  // namespace

int main(int argc, char** argv) {
    int days = 365;
    std::string dir = std::filesystem::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--days")
            days = std::atoi(argv[i + 1]);
        else if (arg == "--dir")
            dir = argv[i + 1];
    }
    const std::string path = dir + "/live_archive_bench-" + std::to_string(::getpid()) + ".sqlite";
    auto cleanup = [&path] {
        std::error_code ec;
        for (const char* suffix : {"", "-wal", "-shm", ".lock"}) std::filesystem::remove(path + suffix, ec);
    };
    cleanup();
    std::string error;
    std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {}, &error);
    if (!archive) {
        std::fprintf(stderr, "open: %s\n", error.c_str());
        return 1;
    }
    Print("append, empty archive (3600 readings)", TimeAppends(*archive, 0, 3600));

    // The rest of the span an hour at a time (one transaction each), rolled up as the appends do.
    const std::int64_t total = std::int64_t{days} * 86400;
    const Clock::time_point fill = Clock::now();
    std::vector<LiveReading> hour;
    for (std::int64_t first = 3600; first < total; first += 3600) {
        hour.clear();
        for (std::int64_t i = first; i < std::min(first + 3600, total); ++i) hour.push_back(ReadingNumber(i));
        if (!archive->Append(kDevice, hour)) {
            std::fprintf(stderr, "append: %s\n", archive->LastError().c_str());
            return 1;
        }
    }
    std::printf("%d days at 1 Hz (%lld readings) stored in %.1f s; file %.1f MiB\n", days,
                static_cast<long long>(total), Ms(Clock::now() - fill) / 1000.0, MiB(path));

    // Single appends at that size: an hour of them, so one roll-up falls among them.
    Print("append, full archive (3600 readings)", TimeAppends(*archive, total, 3600));
    const std::int64_t now = ReadingNumber(total + 3600).timeMs;
    std::printf("file after %d days and an hour: %.1f MiB\n", days, MiB(path));

    // One roll-up step as the hourly one: the readings of the hour that passed the two weeks.
    Clock::time_point start = Clock::now();
    std::optional<std::int64_t> rolled = archive->Compact(kDevice.serial, now + 3600 * 1000);
    std::printf("roll-up of an hour: %lld readings in %.1f ms\n", static_cast<long long>(rolled.value_or(-1)),
                Ms(Clock::now() - start));
    // Appends beyond 1 ms: the WAL's checkpoints and the roll-up.
    start = Clock::now();
    std::optional<std::vector<LiveReading>> day = archive->LastDay(kDevice.serial, now);
    std::printf("the trend's day: %zu readings in %.1f ms\n", day ? day->size() : 0, Ms(Clock::now() - start));
    // A month from two months back: minute rows when the span is longer than the raw weeks.
    const std::int64_t monthEnd = now - 60LL * 86400 * 1000, monthStart = monthEnd - 30LL * 86400 * 1000;
    const std::string csv = path + ".csv";
    std::uint64_t lines = 0;
    start = Clock::now();
    const bool written = archive->WriteCsvFile(kDevice.serial, monthStart, monthEnd, csv, &lines);
    std::printf("CSV of one month: %llu lines in %.1f ms%s\n", static_cast<unsigned long long>(lines),
                Ms(Clock::now() - start), written ? "" : " (failed)");
    std::error_code ec;
    std::filesystem::remove(csv, ec);

    // The window's side: an hour of readings handed over back to back (the worker lags behind, the
    // worst case for the hand-over's lock), then the time the worker needs to store them all.
    {
        QuietUi ui;
        ReportLog log;
        const InterfaceLanguage language = InterfaceLanguage::English;
        WorkerThread worker;
        ArchivedReadings readings(path, worker, log, ui, language);
        DeviceIdentity identity;
        identity.boardInfo.boardCode = kDevice.boardCode;
        identity.modelText = kDevice.identityText;
        std::vector<double> us;
        const Clock::time_point handed = Clock::now();
        for (std::int64_t i = 0; i < 3600; ++i) {
            const LiveReading reading = ReadingNumber(total + 7200 + i);
            const Clock::time_point one = Clock::now();
            readings.Keep(identity, reading);
            us.push_back(Us(Clock::now() - one));
        }
        const double handOver = Ms(Clock::now() - handed);
        readings.Settle();
        const double stored = Ms(Clock::now() - handed);
        std::sort(us.begin(), us.end());
        std::printf("a reading on the window's thread: p50 %.1f us  p99 %.1f us  max %.1f us; 3600 handed over in %.1f ms, "
                    "stored by the worker after %.1f ms%s\n",
                    us[us.size() / 2], us[us.size() * 99 / 100], us.back(), handOver, stored,
                    log.Lines().empty() ? "" : " (the log has lines: failed)");
    }
    archive.reset();
    cleanup();
    return 0;
}
