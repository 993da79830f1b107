// The history archive at size: a full ring (65280 records) merged into an archive that already
// holds a million records of the device, the year chart over it (records loaded into memory
// once, then drawn), the CSV of everything, and the file's size per million records.
//
//   build-bench/bench/archive_bench [--records N] [--dir DIR]
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/history_archive.h"
#include "history/history_chart.h"

namespace {

using namespace kalvo;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

constexpr std::uint32_t kRing = 65280;
constexpr std::uint16_t kLength = 60;  // minute records: a million span about two years

// Record i of the device's life: one a minute from 2024-01-01, now and then a short one.
HistoryRecord RecordNumber(std::uint32_t i) {
    HistoryRecord record;
    record.status = 0xFE;
    record.commit = 0;
    record.spare2 = 0;
    record.spare14 = 0xFFFF;
    record.startTime = DateTimeToSeconds(MakeDeviceDateTime(2024, 1, 1)) + i * kLength;
    record.length = kLength;
    record.pulses = 20 + (i * 7919u) % 13u;
    return record;
}

ArchiveDownload Ring(std::uint32_t first, std::uint32_t count) {
    ArchiveDownload download;
    download.serial = "123-45678";
    download.boardCode = kBoardCodeR630;
    download.identityText = "Orbelan RKD-630.41.0";
    download.conversion = DoseConversionOf(kBoardCodeR630, 0, 127);
    download.records.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) download.records.push_back(RecordNumber(first + i));
    download.deviceTime = download.records.back().startTime + 60;
    return download;
}

std::uintmax_t FileSize(const std::string& path) {
    std::error_code ec;
    std::uintmax_t size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t records = 1000000;
    std::string dir;
    bool own = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string arg = argv[i];
        if (arg == "--records") records = static_cast<std::uint32_t>(std::strtoul(argv[i + 1], nullptr, 10));
        if (arg == "--dir") dir = argv[i + 1];
    }
    if (dir.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "archive-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) return 1;
        dir = pattern;
        own = true;
    }
    const std::string path = dir + "/history.sqlite";
    std::filesystem::remove(path);
    std::printf("archive %s\n", path.c_str());

    // The archive as a device's downloads leave it: rings that overlap by half.
    auto start = Clock::now();
    {
        auto archive = HistoryArchive::Open(path, {});
        if (!archive) return 1;
        for (std::uint32_t first = 0; first < records; first += kRing / 2) {
            const std::uint32_t count = std::min(kRing, records - first);
            if (!archive->Merge(Ring(first, count))) return 1;
            if (first + count >= records) break;
        }
    }
    std::printf("build: %u records in %.0f ms\n", records, Ms(Clock::now() - start));

    start = Clock::now();
    auto archive = HistoryArchive::Open(path, {});
    if (!archive) return 1;
    std::printf("open (with quick_check): %.1f ms\n", Ms(Clock::now() - start));

    start = Clock::now();
    std::optional<MergeCounts> counts = archive->Merge(Ring(records, kRing));
    std::printf("merge of a full ring, all new: %.1f ms (%u new)\n", Ms(Clock::now() - start), counts ? counts->added : 0);
    start = Clock::now();
    counts = archive->Merge(Ring(records, kRing));
    std::printf("merge of the same ring again: %.1f ms (%u unchanged)\n", Ms(Clock::now() - start),
                counts ? counts->unchanged : 0);
    start = Clock::now();
    counts = archive->Merge(Ring(records + kRing / 2, kRing));
    std::printf("merge of a ring overlapping by half: %.1f ms (%u new, %u unchanged)\n", Ms(Clock::now() - start),
                counts ? counts->added : 0, counts ? counts->unchanged : 0);

    start = Clock::now();
    std::optional<ArchiveRecordSource> source = archive->LoadRecords("123-45678");
    if (!source) return 1;
    std::printf("load of the device's %u records into memory: %.1f ms (%.1f MiB)\n", source->RecordCount(),
                Ms(Clock::now() - start), source->RecordCount() * 16.0 / 1048576.0);

    for (HistoryLevel level : {HistoryLevel::Year, HistoryLevel::Month, HistoryLevel::Day, HistoryLevel::Minute}) {
        ChartRequest request{level, MakeDeviceDateTime(2024, 7, 15, 12), source->Conversion(), true,
                             InterfaceLanguage::English};
        std::vector<double> times;
        for (int run = 0; run < 9; ++run) {
            start = Clock::now();
            ChartModel model = DrawHistoryChart(*source, request);
            times.push_back(Ms(Clock::now() - start));
            if (model.bars.empty()) return 1;
        }
        std::sort(times.begin(), times.end());
        std::printf("chart of level %d over the loaded records: median %.2f ms, worst %.2f ms\n",
                    static_cast<int>(level), times[times.size() / 2], times.back());
    }

    // The other way: every draw reads only its period's records from the file.
    {
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        const DeviceDateTime at = MakeDeviceDateTime(2024, 7, 15, 12);
        const std::uint32_t from = DateTimeToSeconds(PeriodStart(HistoryLevel::Year, at));
        const std::uint32_t to = DateTimeToSeconds(MakeDeviceDateTime(2025, 1, 1)) - 1;
        std::vector<double> times;
        for (int run = 0; run < 5; ++run) {
            start = Clock::now();
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db,
                               "SELECT status, commit_byte, spare2, start, pulses, length, spare14 FROM records"
                               " WHERE device = 1 AND start BETWEEN ? AND ? ORDER BY start, occurrence",
                               -1, &stmt, nullptr);
            sqlite3_bind_int64(stmt, 1, from);
            sqlite3_bind_int64(stmt, 2, to);
            std::vector<HistoryRecord> period;
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                HistoryRecord record;
                record.status = static_cast<std::uint8_t>(sqlite3_column_int(stmt, 0));
                record.commit = static_cast<std::uint8_t>(sqlite3_column_int(stmt, 1));
                record.spare2 = static_cast<std::uint16_t>(sqlite3_column_int(stmt, 2));
                record.startTime = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 3));
                record.pulses = static_cast<std::uint32_t>(sqlite3_column_int64(stmt, 4));
                record.length = static_cast<std::uint16_t>(sqlite3_column_int(stmt, 5));
                record.spare14 = static_cast<std::uint16_t>(sqlite3_column_int(stmt, 6));
                period.push_back(record);
            }
            sqlite3_finalize(stmt);
            ArchiveRecordSource periodSource(std::move(period), source->Conversion());
            ChartRequest request{HistoryLevel::Year, at, source->Conversion(), true, InterfaceLanguage::English};
            DrawHistoryChart(periodSource, request);
            times.push_back(Ms(Clock::now() - start));
        }
        sqlite3_close(db);
        std::sort(times.begin(), times.end());
        std::printf("year chart reading only its year from the file at every draw: median %.1f ms\n",
                    times[times.size() / 2]);
    }

    start = Clock::now();
    std::uint32_t lines = 0;
    std::uint64_t bytes = 0;
    archive->WriteCsv({"123-45678"}, [&](std::string_view data) {
        bytes += data.size();
        return true;
    }, &lines);
    std::printf("CSV of every record: %.0f ms (%u lines, %.1f MiB)\n", Ms(Clock::now() - start), lines,
                static_cast<double>(bytes) / 1048576.0);

    const std::uint64_t total = archive->Device("123-45678")->recordCount;
    archive.reset();  // the last connection checkpoints the WAL into the file
    const std::uintmax_t size = FileSize(path);
    std::printf("file: %.1f MiB for %llu records, %.1f MiB per million, %.1f bytes a record\n",
                static_cast<double>(size) / 1048576.0,
                static_cast<unsigned long long>(total), static_cast<double>(size) / 1048576.0 * 1e6 / static_cast<double>(total),
                static_cast<double>(size) / static_cast<double>(total));
    if (own) std::filesystem::remove_all(dir);
    return 0;
}
