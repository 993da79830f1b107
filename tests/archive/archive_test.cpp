// The history archive over hand-made downloads: the union held once, what a second copy does,
// the chart and the CSV equal to those of a download, the import of a saved CSV, a merge killed
// midway, files that are not an archive set aside, and healthy files left alone when SQLite's
// error is the machine's or another program's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/report_log.h"
#include "archive/history_archive.h"
#include "history/history_chart.h"
#include "history/history_csv.h"
#include "history/record_source.h"
#include "support/recording_ui_port.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;
using test::Rec;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

const DoseConversion kR630 = DoseConversionOf(kBoardCodeR630, 0, 127);

// A ring's worth of records from `start`, oldest first: lengths 10 s .. 30 min, a zero-length
// record now and then (sharing its start with the next), an uncommitted one, other statuses.
std::vector<HistoryRecord> Ring(std::uint32_t start, std::uint32_t count, std::uint32_t seed = 1) {
    std::vector<HistoryRecord> records;
    std::uint32_t t = start;
    std::uint32_t state = seed;
    for (std::uint32_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        const auto length = static_cast<std::uint16_t>(i % 97 == 5 ? 0 : 10 + (state >> 16) % 1790);
        HistoryRecord record = Rec(t, length, (state >> 8) % 400);
        if (i % 211 == 7) record.commit = 0xFF;
        if (i % 173 == 9) record.status = 0xFC;
        if (i % 331 == 11) record.status = 0xFF;
        record.spare2 = static_cast<std::uint16_t>(i);
        records.push_back(record);
        t += length;
        if (i % 1000 == 999) t += 4 * 3600;  // switched off for a while
    }
    return records;
}

ArchiveDownload Download(std::vector<HistoryRecord> records, DoseConversion conversion = kR630) {
    ArchiveDownload download;
    download.serial = "123-45678";
    download.boardCode = kBoardCodeR630;
    download.identityText = "Orbelan RKD-630.41.0";
    download.conversion = conversion;
    download.deviceTime = records.empty() ? 0 : records.back().startTime + 60;
    download.records = std::move(records);
    return download;
}

std::vector<HistoryRecord> Counted(const std::vector<HistoryRecord>& records) {
    std::vector<HistoryRecord> counted;
    for (const HistoryRecord& record : records)
        if (record.Counts()) counted.push_back(record);
    return counted;
}

// The download's CSV text of these records (the page walk hands them over newest first).
std::string DownloadCsv(const std::vector<HistoryRecord>& records, const DoseConversion& conversion) {
    HistoryCsv csv;
    csv.Reset();
    for (auto it = records.rbegin(); it != records.rend(); ++it)
        if (it->Exportable()) csv.AddRecord(it->startTime, it->length, it->pulses, conversion);
    return csv.Text();
}

class ArchiveTest : public ::testing::Test {
protected:
    std::string Path() const { return folder.File("data/kalvo/history.sqlite"); }
    std::unique_ptr<HistoryArchive> Open() {
        std::string error;
        auto archive = HistoryArchive::Open(Path(), {&ui, &log, InterfaceLanguage::English}, &error);
        EXPECT_TRUE(archive) << error;
        return archive;
    }
    std::string Csv(HistoryArchive& archive, ArchiveQuery query = {"123-45678"}) {
        std::string text;
        EXPECT_TRUE(archive.WriteCsv(query, [&](std::string_view data) {
            text += data;
            return true;
        }));
        return text;
    }

    test::TempFolder folder;
    test::RecordingUiPort ui;
    ReportLog log;
};

TEST_F(ArchiveTest, OverlappingDownloadsAreHeldOnceAndTheLaterCopyWins) {
    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_EQ(fs::status(folder.File("data/kalvo")).permissions() & fs::perms::all, fs::perms::owner_all);
    const std::vector<HistoryRecord> all = Ring(800000000, 3000);
    const std::vector<HistoryRecord> first(all.begin(), all.begin() + 2000);
    std::vector<HistoryRecord> second(all.begin() + 1000, all.end());
    const std::uint32_t counted = static_cast<std::uint32_t>(Counted(all).size());
    const std::uint32_t counted1 = static_cast<std::uint32_t>(Counted(first).size());
    const std::uint32_t overlap = static_cast<std::uint32_t>(Counted({all.begin() + 1000, all.begin() + 2000}).size());

    EXPECT_EQ(archive->Merge(Download(first)), (MergeCounts{counted1, 0, 0}));
    // The device's newest record of the first download had grown by the second.
    auto grown = std::find_if(second.begin(), second.end(),
                              [&](const HistoryRecord& r) { return r.startTime == first.back().startTime; });
    ASSERT_NE(grown, second.end());
    grown->pulses += 5;
    EXPECT_EQ(archive->Merge(Download(second)), (MergeCounts{counted - counted1, 1, overlap - 1}));
    EXPECT_EQ(archive->Merge(Download(second)), (MergeCounts{0, 0, counted - counted1 + overlap}));

    // The union, once, oldest first; the grown copy in place of the first.
    std::vector<HistoryRecord> expected = Counted(all);
    for (HistoryRecord& record : expected)
        if (record.startTime == grown->startTime && record.length == grown->length) record.pulses = grown->pulses;
    std::optional<ArchiveRecordSource> source = archive->LoadRecords("123-45678");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Records(), expected);
    EXPECT_EQ(source->Conversion(), kR630);
    EXPECT_EQ(source->NewestTime(), expected.back().startTime);
    EXPECT_FALSE(archive->LoadRecords("999-99999"));

    std::vector<ArchiveDeviceSummary> devices = archive->Devices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, "123-45678");
    EXPECT_EQ(devices[0].boardCode, kBoardCodeR630);
    EXPECT_EQ(devices[0].identityText, "Orbelan RKD-630.41.0");
    EXPECT_EQ(devices[0].recordCount, counted);
    EXPECT_EQ(devices[0].firstTime, expected.front().startTime);
    EXPECT_EQ(devices[0].lastTime, expected.back().startTime);
    EXPECT_EQ(devices[0].downloads, 3u);

    // A second device is kept apart; an erase in the device (an empty download) takes nothing.
    ArchiveDownload other = Download(Ring(800000000, 50, 7));
    other.serial = "520-00001";
    other.boardCode = kBoardCodeR520;
    EXPECT_EQ(archive->Merge(other)->added, Counted(other.records).size());
    EXPECT_EQ(archive->Merge(Download({})), (MergeCounts{0, 0, 0}));
    EXPECT_EQ(archive->Device("123-45678")->recordCount, counted);
    EXPECT_EQ(archive->Devices().size(), 2u);

    // Another family's device with the same number is never mixed into this one's records.
    ArchiveDownload sameNumber = Download(Ring(800000000, 40, 9));
    sameNumber.boardCode = kBoardCodeR520;
    const std::uint32_t downloads = archive->Device("123-45678")->downloads;
    EXPECT_FALSE(archive->Merge(sameNumber));
    EXPECT_EQ(archive->LastError(), "device 123-45678 is archived as an R630, not an R520; nothing merged");
    EXPECT_EQ(archive->LoadRecords("123-45678")->Records(), expected);
    EXPECT_EQ(archive->Device("123-45678")->downloads, downloads);

    // A download whose records lie far apart among those held, newest first (a clock set back):
    // every 50th held record, some grown, and a new one a second after each.
    std::map<std::uint32_t, int> starts;
    for (const HistoryRecord& record : expected) ++starts[record.startTime];
    std::vector<HistoryRecord> sparse;
    MergeCounts sparseCounts;
    for (std::size_t i = expected.size(); i-- > 0;) {
        if (i % 50 != 3 || starts[expected[i].startTime] != 1 || starts.count(expected[i].startTime + 1)) continue;
        HistoryRecord held = expected[i], added = expected[i];
        if (i % 150 == 3) {
            held.pulses = expected[i].pulses += 3;
            ++sparseCounts.updated;
        } else {
            ++sparseCounts.unchanged;
        }
        added.startTime += 1;
        ++sparseCounts.added;
        sparse.push_back(added);
        sparse.push_back(held);
    }
    ASSERT_GT(sparseCounts.updated, 5u);
    for (const HistoryRecord& record : sparse)
        if (starts.count(record.startTime) == 0) expected.push_back(record);
    std::stable_sort(expected.begin(), expected.end(),
                     [](const HistoryRecord& a, const HistoryRecord& b) { return a.startTime < b.startTime; });
    EXPECT_EQ(archive->Merge(Download(sparse)), sparseCounts);
    EXPECT_EQ(archive->LoadRecords("123-45678")->Records(), expected);

    EXPECT_EQ(ArchiveMergeLogLine("123-45678", {1200, 3, 64079}),
              "# ARCHIVE: 1200 new records of 123-45678 (3 updated, 64079 unchanged)");
}

TEST_F(ArchiveTest, ChartAndCsvOverTheArchiveEqualThoseOfADownload) {
    auto archive = Open();
    ASSERT_TRUE(archive);
    const std::vector<HistoryRecord> all = Ring(850000000, 4000, 3);
    ASSERT_TRUE(archive->Merge(Download({all.begin(), all.begin() + 2500})));
    ASSERT_TRUE(archive->Merge(Download({all.begin() + 1500, all.end()})));
    std::optional<ArchiveRecordSource> source = archive->LoadRecords("123-45678");
    ASSERT_TRUE(source);
    test::VectorRecordSource download(all);

    // Every level, at the start, the middle and the end of the records, and at a gap.
    for (std::uint32_t at : {all.front().startTime, all[1700].startTime + 17, all[1000].startTime - 600,
                             all.back().startTime, all.back().startTime + 86400 * 40}) {
        for (HistoryLevel level :
             {HistoryLevel::Minute, HistoryLevel::Hour, HistoryLevel::Day, HistoryLevel::Month, HistoryLevel::Year}) {
            ChartRequest request{level, SecondsToDateTime(at), source->Conversion(), true, InterfaceLanguage::English};
            EXPECT_EQ(ChartModelText(DrawHistoryChart(*source, request)), ChartModelText(DrawHistoryChart(download, request)))
                << at << " level " << static_cast<int>(level);
        }
    }

    // The CSV: byte for byte the download's, each line with its own download's conversion.
    EXPECT_EQ(Csv(*archive), DownloadCsv(all, kR630));
    const DoseConversion recalibrated = DoseConversionOf(kBoardCodeR630, 0, 140);
    const std::vector<HistoryRecord> later = Ring(all.back().startTime + 4000, 300, 9);
    ASSERT_TRUE(archive->Merge(Download(later, recalibrated)));
    std::string expected = DownloadCsv(later, recalibrated);
    std::string older = DownloadCsv(all, kR630);
    // Rows go on from the later records' last row.
    std::uint32_t row = static_cast<std::uint32_t>(std::count(expected.begin(), expected.end(), '\n'));
    for (auto it = all.rbegin(); it != all.rend(); ++it)
        if (it->Exportable()) expected += HistoryCsvLine(++row, it->startTime, it->length, it->pulses, kR630) + "\r\n";
    EXPECT_EQ(Csv(*archive), expected);
    std::uint32_t lines = 0;
    EXPECT_TRUE(archive->WriteCsvFile({"123-45678"}, folder.File("all.csv"), &lines));
    EXPECT_EQ(ReadFile(folder.File("all.csv")), expected);
    EXPECT_EQ(lines, row - 1);

    // A period: only the records that start in it, numbered from row 2.
    const std::uint32_t from = all[1000].startTime, to = all[1999].startTime;
    std::vector<HistoryRecord> period;
    for (const HistoryRecord& record : all)
        if (record.startTime >= from && record.startTime <= to) period.push_back(record);
    EXPECT_EQ(Csv(*archive, {"123-45678", from, to}), DownloadCsv(period, kR630));
    EXPECT_EQ(Csv(*archive, {"999-99999"}), std::string(kCsvHeaderLine) + "\r\n");
}

// The window and kalvo-cli read only the period they show: its chart must be the one drawn over
// every record loaded, at period edges and where records overlap (a clock set back: the walk's
// first record then depends on the records' places in the whole sequence); the CSV of a period
// holds exactly the records that start in it.
TEST_F(ArchiveTest, ThePeriodReadAloneDrawsTheChartOfEveryRecordLoaded) {
    auto archive = Open();
    ASSERT_TRUE(archive);
    const std::vector<HistoryRecord> all = Ring(850000000, 4000, 5);
    ASSERT_TRUE(archive->Merge(Download(all)));
    const std::uint32_t monthEdge = DateTimeToSeconds(MakeDeviceDateTime(2027, 1, 1));
    ASSERT_GT(monthEdge, all[200].startTime);
    ASSERT_LT(monthEdge, all.back().startTime);
    // Records of a clock set back, over the others: the longest record there is across the
    // month's edge, short ones inside longer ones, a zero-length one.
    const std::uint32_t inside = all[3000].startTime;
    std::vector<HistoryRecord> setBack = {Rec(monthEdge - 3600, 0xFFFF, 777), Rec(monthEdge - 1, 2, 5),
                                          Rec(monthEdge, 0, 9),           Rec(inside + 3, 20, 11),
                                          Rec(inside + 4, 9000, 300),     Rec(inside + 5, 10, 1)};
    ASSERT_TRUE(archive->Merge(Download(setBack)));
    std::optional<ArchiveRecordSource> loaded = archive->LoadRecords("123-45678");
    ASSERT_TRUE(loaded);
    std::optional<ArchiveDeviceHead> head = archive->Head("123-45678");
    ASSERT_TRUE(head);
    EXPECT_TRUE(head->hasRecords);
    EXPECT_EQ(head->newestTime, loaded->NewestTime());
    EXPECT_EQ(head->conversion, loaded->Conversion());
    EXPECT_FALSE(archive->Head("999-99999"));
    ArchivePeriodSource period(std::shared_ptr<HistoryArchive>(std::move(archive)), "123-45678", *head);

    std::vector<std::uint32_t> positions = {monthEdge - 1, monthEdge, monthEdge + 1, inside, inside + 4, inside + 9,
                                            all.front().startTime, all.back().startTime + 86400 * 40};
    for (std::size_t i = 0; i < all.size(); i += 97) positions.push_back(all[i].startTime + static_cast<std::uint32_t>(i % 60));
    for (std::uint32_t day = all.front().startTime / 86400 * 86400; day < all.back().startTime; day += 86400 * 3) {
        positions.push_back(day);
        positions.push_back(day - 1);
    }
    std::size_t held = 0;
    for (std::uint32_t at : positions) {
        for (HistoryLevel level :
             {HistoryLevel::Minute, HistoryLevel::Hour, HistoryLevel::Day, HistoryLevel::Month, HistoryLevel::Year}) {
            ChartRequest request{level, SecondsToDateTime(at), head->conversion, true, InterfaceLanguage::English};
            ASSERT_EQ(ChartModelText(DrawHistoryChart(period, request)), ChartModelText(DrawHistoryChart(*loaded, request)))
                << at << " level " << static_cast<int>(level);
            EXPECT_EQ(period.Error(), "");
            if (level == HistoryLevel::Day) held = std::max(held, period.HeldRecords());
        }
    }
    // A day's walk holds its day and the reach before it, not the archive.
    EXPECT_LT(held, loaded->RecordCount() / 10);

    // The CSV of a month: the records that start in it, from its first second to its last.
    std::vector<HistoryRecord> merged = loaded->Records();
    const std::uint32_t monthEnd = DateTimeToSeconds(MakeDeviceDateTime(2027, 2, 1)) - 1;
    std::vector<HistoryRecord> month;
    for (const HistoryRecord& record : merged)
        if (record.startTime >= monthEdge && record.startTime <= monthEnd) month.push_back(record);
    auto again = Open();
    ASSERT_TRUE(again);
    EXPECT_EQ(Csv(*again, {"123-45678", monthEdge, monthEnd}), DownloadCsv(month, kR630));
}

// Months and years come from day sums: those of an archive written before them are made at its
// first open, and a replaced record has its day summed again; the charts stay those of the walk.
TEST_F(ArchiveTest, DaySumsOfAnOlderArchiveAndOfReplacedRecordsDrawTheWalksCharts) {
    const std::vector<HistoryRecord> all = Ring(850000000, 5000, 11);
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(Download(all)));
    }
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "DROP TABLE day_sums; PRAGMA user_version = 1", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    std::shared_ptr<HistoryArchive> archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->SetAsideName(), "");
    // Later copies with other pulses, across many days.
    std::vector<HistoryRecord> later(all.begin() + 2000, all.end());
    for (std::size_t i = 0; i < later.size(); i += 37) later[i].pulses += 1000;
    std::optional<MergeCounts> counts = archive->Merge(Download(later));
    ASSERT_TRUE(counts);
    EXPECT_GT(counts->updated, 50u);

    std::optional<ArchiveRecordSource> loaded = archive->LoadRecords("123-45678");
    std::optional<ArchiveDeviceHead> head = archive->Head("123-45678");
    ASSERT_TRUE(loaded && head);
    ArchivePeriodSource period(archive, "123-45678", *head);
    for (std::uint32_t at = all.front().startTime; at <= all.back().startTime + 86400 * 31; at += 86400 * 9) {
        for (HistoryLevel level : {HistoryLevel::Month, HistoryLevel::Year}) {
            ChartRequest request{level, SecondsToDateTime(at), head->conversion, true, InterfaceLanguage::English};
            EXPECT_EQ(ChartModelText(DrawHistoryChart(period, request)), ChartModelText(DrawHistoryChart(*loaded, request)))
                << at << " level " << static_cast<int>(level);
        }
    }
    // The sums were what drew them: no record was held for a month or a year.
    EXPECT_EQ(period.HeldRecords(), 0u);
}

// A clean open no longer reads every page: a page damaged since is met by the query that reads
// it, which reports it; nothing is shown from it and nothing crashes.
TEST_F(ArchiveTest, ADamagedPageMetAfterACleanOpenIsReported) {
    const std::vector<HistoryRecord> all = Ring(850000000, 6000, 7);
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(Download(all)));
    }
    ASSERT_FALSE(fs::exists(Path() + "-wal"));
    std::string bytes = ReadFile(Path());
    ASSERT_GT(bytes.size(), 40u * 4096);
    for (std::size_t i = bytes.size() / 2 / 4096 * 4096; i < bytes.size() / 2 + 8 * 4096; ++i)
        bytes[i] = static_cast<char>(0x55 + i % 7);
    WriteFile(Path(), bytes);

    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->SetAsideName(), "");
    EXPECT_FALSE(archive->LoadRecords("123-45678"));
    EXPECT_NE(archive->LastError(), "");
    std::string ignored;
    EXPECT_FALSE(archive->WriteCsv({"123-45678"}, [&](std::string_view data) {
        ignored += data;
        return true;
    }));
    std::optional<ArchiveDeviceHead> head = archive->Head("123-45678");
    ASSERT_TRUE(head);
    ArchivePeriodSource period(std::shared_ptr<HistoryArchive>(std::move(archive)), "123-45678", *head);
    std::vector<std::string> reported;
    period.onError = [&](const std::string& error) { reported.push_back(error); };
    // Day by day over every record: the days on the damaged pages say so and show nothing.
    for (std::uint32_t at = all.front().startTime; at <= all.back().startTime; at += 86400) {
        ChartRequest request{HistoryLevel::Day, SecondsToDateTime(at), head->conversion, true,
                             InterfaceLanguage::English};
        const std::size_t before = reported.size();
        const ChartModel chart = DrawHistoryChart(period, request);
        EXPECT_EQ(period.Error().empty(), reported.size() == before);
        if (period.Error().empty()) continue;
        EXPECT_NE(period.Error().find("malformed"), std::string::npos) << period.Error();
        for (const ChartBar& bar : chart.bars) EXPECT_EQ(bar.coveredSeconds, 0u);
    }
    EXPECT_FALSE(reported.empty());
    // After a crash (a WAL left behind) the open checks every page and sets the file aside.
    period = ArchivePeriodSource(nullptr, "", {});
    WriteFile(Path() + "-wal", "its last transactions");
    auto checked = Open();
    ASSERT_TRUE(checked);
    EXPECT_NE(checked->SetAsideName(), "");
}

// A WAL left by a connection still alive (the window's readings while it merges a download,
// kalvo-cli beside the window) is its work, not a crash's: the open goes without the full check,
// which would find the page damaged here. Once its process is killed, the next open checks.
TEST_F(ArchiveTest, AWalOfAConnectionStillAliveIsNoSignOfACrash) {
    const std::vector<HistoryRecord> all = Ring(850000000, 9000, 7);
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(Download({all.begin(), all.begin() + 6000})));
    }
    std::string bytes = ReadFile(Path());
    ASSERT_GT(bytes.size(), 40u * 4096);
    for (std::size_t i = bytes.size() / 2 / 4096 * 4096; i < bytes.size() / 2 + 4 * 4096; ++i)
        bytes[i] = static_cast<char>(0x55 + i % 7);
    WriteFile(Path(), bytes);

    {
        auto holder = Open();
        ASSERT_TRUE(holder);
        ASSERT_TRUE(holder->Merge(Download({all.begin() + 6000, all.begin() + 7500})));
        ASSERT_GT(fs::file_size(Path() + "-wal"), 0u);
        auto second = Open();
        ASSERT_TRUE(second);
        EXPECT_EQ(second->SetAsideName(), "");
    }

    int merged[2], hold[2];
    ASSERT_EQ(::pipe(merged), 0);
    ASSERT_EQ(::pipe(hold), 0);
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto archive = HistoryArchive::Open(Path(), {});
        if (!archive || !archive->Merge(Download({all.begin() + 7500, all.end()}))) ::_exit(3);
        char byte = 'x';
        if (::write(merged[1], &byte, 1) != 1) ::_exit(4);
        if (::read(hold[0], &byte, 1) < 0) ::_exit(5);  // blocks until killed
        ::_exit(6);
    }
    char byte = 0;
    ASSERT_EQ(::read(merged[0], &byte, 1), 1);
    ASSERT_GT(fs::file_size(Path() + "-wal"), 0u);
    EXPECT_EQ(Open()->SetAsideName(), "");
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status)) << status;
    for (int fd : {merged[0], merged[1], hold[0], hold[1]}) ::close(fd);

    auto checked = Open();
    ASSERT_TRUE(checked);
    EXPECT_NE(checked->SetAsideName(), "");
    // The lock file is the place's, not the damaged file's: it stays.
    EXPECT_TRUE(fs::exists(Path() + ".lock"));
    EXPECT_FALSE(fs::exists(checked->SetAsideName() + ".lock"));
}

// What the window's Archive box needs: the last device used, and Save CSV of the period shown
// through the save's usual questions, streamed from the archive.
TEST_F(ArchiveTest, TheWindowSavesThePeriodShownFromTheArchive) {
    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->LatestSerial(), std::nullopt);
    const std::vector<HistoryRecord> all = Ring(890000000, 3000, 4);
    ASSERT_TRUE(archive->Merge(Download(all)));
    ArchiveDownload other = Download(Ring(890000000, 20, 8));
    other.serial = "520-00001";
    ASSERT_TRUE(archive->Merge(other));
    EXPECT_EQ(archive->LatestSerial(), "520-00001");
    ASSERT_TRUE(archive->Merge(Download({all.begin(), all.begin() + 10})));
    EXPECT_EQ(archive->LatestSerial(), "123-45678");

    std::optional<ArchiveRecordSource> source = archive->LoadRecords("123-45678");
    ASSERT_TRUE(source);
    ChartRequest request{HistoryLevel::Day, SecondsToDateTime(all[1500].startTime), source->Conversion(), false,
                         InterfaceLanguage::English};
    const ChartModel day = DrawHistoryChart(*source, request);
    const ArchiveQuery query = PeriodQuery("123-45678", day);
    EXPECT_EQ(query.from, DateTimeToSeconds(PeriodStart(HistoryLevel::Day, request.position)));
    EXPECT_EQ(query.to, query.from + 86399);
    std::vector<HistoryRecord> period;
    for (const HistoryRecord& record : all)
        if (record.startTime >= query.from && record.startTime <= query.to) period.push_back(record);
    ASSERT_GT(period.size(), 10u);

    LocalCsvFileAccess files;
    HistoryCsvSaver saver(ui, files);
    const std::string file = folder.File("day.csv");
    auto save = [&] {
        return saver.Save(
            true,
            [&](CsvFileAccess& out) {
                return archive->WriteCsv(query, [&](std::string_view data) { return out.Write(data); });
            },
            InterfaceLanguage::English, [&](const CsvSaveDialog&) { return std::optional<std::string>(file); });
    };
    EXPECT_EQ(save(), CsvSaveResult::Saved);
    EXPECT_EQ(ReadFile(file), DownloadCsv(period, kR630));
    // The usual question before an existing file is replaced; No keeps it.
    WriteFile(file, "kept");
    EXPECT_EQ(save(), CsvSaveResult::NotRewritten);
    EXPECT_EQ(ui.calls.back(), "confirm warning: File\r\n" + file + "\r\nalready exists\r\nRewrite?");
    EXPECT_EQ(ReadFile(file), "kept");
}

TEST_F(ArchiveTest, ASavedCsvImportsBackAndAnythingElseIsRefusedWithItsLine) {
    const std::vector<HistoryRecord> all = Ring(860000000, 1500, 5);
    const std::string saved = DownloadCsv(all, kR630);
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        std::optional<MergeCounts> counts = archive->ImportCsvText(saved, "123-45678");
        ASSERT_TRUE(counts);
        std::uint32_t exportable = 0;
        for (const HistoryRecord& record : all) exportable += record.Exportable();
        EXPECT_EQ(*counts, (MergeCounts{exportable, 0, 0}));
        EXPECT_EQ(Csv(*archive), saved);
        EXPECT_EQ(archive->Device("123-45678")->boardCode, kBoardCodeR630);
        // Importing it again, or after the download itself, changes nothing.
        EXPECT_EQ(archive->ImportCsvText(saved, "123-45678"), (MergeCounts{0, 0, exportable}));
        ASSERT_TRUE(archive->Merge(Download(all)));
        EXPECT_EQ(Csv(*archive), saved);
        EXPECT_EQ(archive->ImportCsvText(std::string(kCsvHeaderLine) + "\r\n", "123-45678"), (MergeCounts{}));
    }

    const std::vector<std::string> lines = SplitLines(saved);
    auto with = [&](std::size_t index, const std::string& replacement) {
        std::string text;
        for (std::size_t i = 0; i < lines.size(); ++i) text += (i == index ? replacement + "\r" : lines[i]) + "\n";
        return text;
    };
    const std::string good3 = lines[3].substr(0, lines[3].size() - 1);  // without its CR
    struct Case {
        std::string text;
        std::uint32_t line;
    };
    const std::vector<Case> cases = {
        {"", 1},
        {"TIME;DATE\r\n", 1},
        {saved.substr(0, saved.size() - 2), static_cast<std::uint32_t>(lines.size())},  // no CR LF at the end
        {with(3, good3 + ";"), 4},                                                     // an 11th field
        {with(3, good3.substr(0, good3.rfind(';'))), 4},                               // 9 fields
        {with(3, "x" + good3), 4},
        {with(3, [&] { std::string l = good3; l.replace(l.find(";36;"), 4, ";37;"); return l; }()), 4},
        {with(3, [&] { std::string l = good3; l.replace(l.find("=E4"), 3, "=E5"); return l; }()), 4},  // other row
        {with(5, [&] { std::string l = lines[5].substr(0, lines[5].size() - 1); l[11] = '9'; return l; }()), 6},  // date
        {with(3, [&] { std::string l = good3; l.replace(l.find(";2;127;36;86;"), 13, ";1;127;36;86;"); return l; }()), 4},
        {"TIME_IN_SECOND_FROM_2000;DATE\n", 1},
    };
    for (const Case& c : cases) {
        test::TempFolder other;
        std::string error;
        auto archive = HistoryArchive::Open(other.File("a.sqlite"), {}, &error);
        ASSERT_TRUE(archive) << error;
        ImportError why;
        EXPECT_FALSE(archive->ImportCsvText(c.text, "123-45678", &why)) << c.text.substr(0, 200);
        EXPECT_EQ(why.line, c.line) << why.reason;
        EXPECT_FALSE(why.reason.empty());
        // The file, read a block at a time, is refused at the same line for the same reason.
        WriteFile(other.File("in.csv"), c.text);
        ImportError streamed;
        EXPECT_FALSE(archive->ImportCsv(other.File("in.csv"), "123-45678", &streamed));
        EXPECT_EQ(streamed.line, why.line);
        EXPECT_EQ(streamed.reason, why.reason);
        EXPECT_TRUE(archive->Devices().empty());
    }

    // Read from its file a block at a time, a saved CSV lands as its text does: many blocks,
    // records sharing a start, two conversions (the later one shown), and a file whose times go
    // back (a clock set back).
    std::string twoConversions;
    {
        test::TempFolder other;
        auto archive = HistoryArchive::Open(other.File("a.sqlite"), {});
        const std::vector<HistoryRecord> more = Ring(870000000, 6000, 3);
        ASSERT_TRUE(archive->Merge(Download({more.begin(), more.begin() + 4000})));
        ASSERT_TRUE(archive->Merge(Download({more.begin() + 3500, more.end()}, DoseConversionOf(kBoardCodeR630, 0, 140))));
        twoConversions = Csv(*archive);
        ASSERT_GT(twoConversions.size(), 3u << 16);
    }
    std::vector<HistoryRecord> setBack = Ring(860000000, 300, 2);
    for (const HistoryRecord& record : Ring(860000000 + 100, 300, 9)) setBack.push_back(record);
    for (const std::string& text : {twoConversions, DownloadCsv(setBack, kR630)}) {
        test::TempFolder other;
        WriteFile(other.File("in.csv"), text);
        auto fromText = HistoryArchive::Open(other.File("text.sqlite"), {});
        auto fromFile = HistoryArchive::Open(other.File("file.sqlite"), {});
        std::optional<MergeCounts> textCounts = fromText->ImportCsvText(text, "123-45678");
        ASSERT_TRUE(textCounts);
        EXPECT_EQ(fromFile->ImportCsv(other.File("in.csv"), "123-45678"), textCounts);
        EXPECT_EQ(Csv(*fromFile), Csv(*fromText));
        EXPECT_EQ(fromFile->Head("123-45678")->conversion, fromText->Head("123-45678")->conversion);
        EXPECT_EQ(fromFile->LoadRecords("123-45678")->Records(), fromText->LoadRecords("123-45678")->Records());
    }
    auto archive = Open();
    ImportError why;
    EXPECT_FALSE(archive->ImportCsv(folder.File("missing.csv"), "123-45678", &why));
    EXPECT_EQ(why.line, 0u);
}

TEST_F(ArchiveTest, AMergeKilledMidwayLeavesTheEarlierContents) {
    const std::vector<HistoryRecord> all = Ring(870000000, 65280 + 20000, 11);
    const ArchiveDownload first = Download({all.begin(), all.begin() + 20000});
    const ArchiveDownload full = Download({all.begin() + 20000, all.end()});
    std::string before;
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(first));
        before = Csv(*archive);
    }
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string error;
        auto archive = HistoryArchive::Open(Path(), {}, &error);
        if (!archive) ::_exit(3);
        MergeHook hook{1000, [](std::uint32_t merged) {
                           if (merged == 30000) ::raise(SIGKILL);
                       }};
        archive->Merge(full, hook);
        ::_exit(4);  // not reached: the hook kills the merge midway
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGKILL);
    EXPECT_TRUE(fs::exists(Path() + "-wal"));

    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->SetAsideName().empty());
    EXPECT_EQ(Csv(*archive), before);
    EXPECT_EQ(archive->Device("123-45678")->recordCount, Counted(first.records).size());
    EXPECT_EQ(archive->Device("123-45678")->downloads, 1u);
    // And the same merge, let through, completes.
    EXPECT_EQ(archive->Merge(full)->added, Counted(full.records).size());
    EXPECT_TRUE(ui.calls.empty());
}

// The window and kalvo-cli at once: a second merge that starts while the first holds the write
// lock waits for it (busy timeout) and both land whole.
TEST_F(ArchiveTest, TwoProcessesMergingAtOnceBothLand) {
    const std::vector<HistoryRecord> all = Ring(875000000, 2 * 65280, 12);
    const ArchiveDownload first = Download({all.begin(), all.begin() + 65280 + 1000});
    const ArchiveDownload second = Download({all.begin() + 65280, all.end()});
    ASSERT_TRUE(Open());  // made before the children race to make it
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    std::fflush(nullptr);
    auto child = [&](bool isFirst) {
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        auto archive = HistoryArchive::Open(Path(), {});
        if (!archive) ::_exit(3);
        std::optional<MergeCounts> counts;
        if (isFirst) {
            // Tells the other one to begin while this merge holds the lock.
            MergeHook hook{1000, [&](std::uint32_t merged) {
                               if (merged == 1000 && ::write(started[1], "x", 1) != 1) ::_exit(5);
                           }};
            counts = archive->Merge(first, hook);
        } else {
            char byte = 0;
            if (::read(started[0], &byte, 1) != 1) ::_exit(6);
            counts = archive->Merge(second);
        }
        ::_exit(counts ? 0 : 4);
    };
    const pid_t a = child(true), b = child(false);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    for (pid_t pid : {a, b}) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    ::close(started[0]);
    ::close(started[1]);
    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->LoadRecords("123-45678")->Records(), Counted(all));
    EXPECT_EQ(archive->Device("123-45678")->downloads, 2u);
}

TEST_F(ArchiveTest, AFileThatIsNoArchiveIsSetAsideAndANewOneStarted) {
    // A real archive, then cut short.
    std::string whole;
    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(Download(Ring(880000000, 20000, 2))));
    }
    {
        // Checkpointed into the main file, so that the cut takes records away.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        whole = ReadFile(Path());
        ASSERT_GT(whole.size(), 100000u);
    }
    auto foreignDatabase = [&] {
        sqlite3* db = nullptr;
        sqlite3_open(Path().c_str(), &db);
        sqlite3_exec(db, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine')", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    };
    struct Case {
        std::string name;
        std::function<void()> make;
        bool foreign;
    };
    const std::vector<Case> cases = {
        {"truncated", [&] { WriteFile(Path(), whole.substr(0, whole.size() / 2)); }, false},
        {"header only", [&] { WriteFile(Path(), whole.substr(0, 60)); }, false},
        {"text file", [&] { WriteFile(Path(), "TIME_IN_SECOND_FROM_2000;DATE\r\n"); }, false},
        {"another program's database", foreignDatabase, true},
    };
    std::vector<std::string> setAside;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(Path());
        c.make();
        WriteFile(Path() + "-shm", "");  // left by a crash: goes along
        WriteFile(Path() + "-wal", "its last transactions");  // goes along, never replayed or lost
        const std::string original = ReadFile(Path());
        ui.calls.clear();
        auto archive = Open();
        ASSERT_TRUE(archive);
        const std::string aside = archive->SetAsideName();
        ASSERT_FALSE(aside.empty());
        EXPECT_EQ(aside.rfind(Path() + ".damaged-", 0), 0u);
        EXPECT_EQ(ReadFile(aside), original);
        EXPECT_TRUE(fs::exists(aside + "-shm"));
        EXPECT_EQ(ReadFile(aside + "-wal"), "its last transactions");
        for (const std::string& earlier : setAside) EXPECT_NE(earlier, aside);
        setAside.push_back(aside);
        // A new, empty archive that works.
        EXPECT_TRUE(archive->Devices().empty());
        EXPECT_TRUE(archive->Merge(Download(Ring(880000000, 10))));
        const std::string kind = c.foreign ? "The history archive file is not an archive of the program"
                                           : "The history archive is damaged";
        ASSERT_EQ(ui.calls.size(), 1u);
        EXPECT_EQ(ui.calls[0],
                  "warning: " + kind + ";\r\nthe file was moved to\r\n" + aside + "\r\nA new archive was started");
        EXPECT_EQ(log.Lines().back().rfind("# ARCHIVE: ", 0), 0u);
        const std::string logged = std::string("# ARCHIVE: ") + (c.foreign ? "foreign" : "damaged") +
                                   " file moved to " + aside + ", new archive started";
        EXPECT_NE(std::find(log.Lines().begin(), log.Lines().end(), logged), log.Lines().end());
    }
    // In Russian.
    fs::remove(Path());
    WriteFile(Path(), "x");
    test::RecordingUiPort russianUi;
    auto archive = HistoryArchive::Open(Path(), {&russianUi, &log, InterfaceLanguage::Russian});
    ASSERT_TRUE(archive);
    ASSERT_EQ(russianUi.calls.size(), 1u);
    EXPECT_EQ(russianUi.calls[0], "warning: Архив истории повреждён;\r\nфайл перенесён в\r\n" + archive->SetAsideName() +
                                      "\r\nНачат новый архив");

    // An archive of a newer program is neither used nor moved.
    archive.reset();
    {
        sqlite3* db = nullptr;
        sqlite3_open(Path().c_str(), &db);
        sqlite3_exec(db, "PRAGMA user_version = 9", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    std::string error;
    EXPECT_FALSE(HistoryArchive::Open(Path(), {}, &error));
    EXPECT_NE(error.find("newer"), std::string::npos);
    EXPECT_TRUE(fs::exists(Path()));
}

// Only SQLite's own word that a file is no database or is corrupt sets it aside; a full disk, a
// lock, a read-only or failing file system fail the open and leave the file. (A real full disk
// and a read-only folder are in the kalvo-cli archive tests.)
TEST_F(ArchiveTest, AHealthyArchiveIsLeftWhereItIsWhenItCannotBeUsedNow) {
    struct Code {
        int code;
        int systemErrno;
        ArchiveFault fault;
    };
    const std::vector<Code> codes = {
        {SQLITE_NOTADB, 0, ArchiveFault::Damaged},
        {SQLITE_CORRUPT, 0, ArchiveFault::Damaged},
        {SQLITE_CORRUPT_INDEX, 0, ArchiveFault::Damaged},
        {SQLITE_BUSY, 0, ArchiveFault::Busy},
        {SQLITE_BUSY_RECOVERY, 0, ArchiveFault::Busy},
        {SQLITE_LOCKED, 0, ArchiveFault::Busy},
        {SQLITE_FULL, ENOSPC, ArchiveFault::DiskFull},
        {SQLITE_IOERR_SHMSIZE, ENOSPC, ArchiveFault::DiskFull},
        {SQLITE_IOERR_WRITE, EDQUOT, ArchiveFault::DiskFull},
        {SQLITE_READONLY, 0, ArchiveFault::ReadOnly},
        {SQLITE_READONLY_CANTINIT, 0, ArchiveFault::ReadOnly},
        {SQLITE_CANTOPEN, EROFS, ArchiveFault::ReadOnly},
        {SQLITE_CANTOPEN, EACCES, ArchiveFault::ReadOnly},
        {SQLITE_PERM, 0, ArchiveFault::ReadOnly},
        {SQLITE_IOERR_READ, EIO, ArchiveFault::Io},
        {SQLITE_IOERR_FSYNC, EIO, ArchiveFault::Io},
        {SQLITE_CANTOPEN, ENOENT, ArchiveFault::CannotOpen},
        {SQLITE_NOMEM, 0, ArchiveFault::Other},
        {SQLITE_ERROR, 0, ArchiveFault::Other},
    };
    for (const Code& c : codes)
        EXPECT_EQ(ClassifyArchiveError(c.code, c.systemErrno), c.fault) << c.code << " errno " << c.systemErrno;

    {
        auto archive = Open();
        ASSERT_TRUE(archive);
        ASSERT_TRUE(archive->Merge(Download(Ring(885000000, 3000, 4))));
    }
    const std::string before = ReadFile(Path());
    auto entries = [&] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(Path()).parent_path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> namesBefore = entries();

    // Another program keeps the file locked (an exclusive locking mode blocks even WAL readers).
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(Path().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE", nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string held = ReadFile(Path());
    std::string error;
    const std::chrono::milliseconds shortWait{50};
    EXPECT_FALSE(HistoryArchive::Open(Path(), {&ui, &log, InterfaceLanguage::English}, &error, shortWait));
    EXPECT_EQ(error, "The history archive is in use by another program: " + Path() +
                         "; the file was left as it was (database is locked)");
    EXPECT_FALSE(HistoryArchive::Open(Path(), {&ui, &log, InterfaceLanguage::Russian}, &error, shortWait));
    EXPECT_EQ(error, "Архив истории занят другой программой: " + Path() + "; файл оставлен как был (database is locked)");
    EXPECT_EQ(ReadFile(Path()), held);
    EXPECT_TRUE(ui.calls.empty());
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_EQ(entries(), namesBefore);

    // Released, the same file opens with every record.
    auto archive = Open();
    ASSERT_TRUE(archive);
    EXPECT_TRUE(archive->SetAsideName().empty());
    EXPECT_EQ(archive->Device("123-45678")->recordCount, Counted(Ring(885000000, 3000, 4)).size());
    archive.reset();
    EXPECT_EQ(ReadFile(Path()), before);
    EXPECT_TRUE(ui.calls.empty());
}

}  // namespace
}  // namespace kalvo
