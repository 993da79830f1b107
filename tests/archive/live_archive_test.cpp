// The live readings in the archive: kept over a reopen next to the history's tables, the trend
// restored from them with its last unit only, another family's serial refused, the roll-up into
// exact minutes in bounded steps, and the CSV export equal to the trend's CSV text.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "archive/live_archive.h"
#include "live/live_csv.h"
#include "support/temp_folder.h"

namespace kalvo {

bool operator==(const LiveReading& a, const LiveReading& b) {
    return a.timeMs == b.timeMs && a.unitCode == b.unitCode && a.value == b.value && a.doseText == b.doseText;
}

namespace {

const LiveDevice kDevice{"123-45678", 630, "R630 v1"};
constexpr std::int64_t kStart = 1'700'000'040'000;  // a UTC millisecond time on a minute

LiveReading At(std::int64_t timeMs, std::uint8_t unit, double value, std::string dose = {}) {
    return LiveReading{timeMs, unit, value, std::move(dose)};
}

TEST(LiveArchive, ReadingsSurviveReopenAndRestoreTheLastSeries) {
    test::TempFolder folder;
    const std::string path = folder.Path() + "/data/history.sqlite";
    {
        // An archive the history made first gains the live tables.
        std::unique_ptr<HistoryArchive> history = HistoryArchive::Open(path, {});
        ASSERT_TRUE(history);
    }
    std::vector<LiveReading> written;
    {
        std::string error;
        std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {}, &error);
        ASSERT_TRUE(archive) << error;
        for (int i = 0; i < 30; ++i) {
            // Sievert first, then the device switched to roentgen.
            const std::uint8_t unit = i < 20 ? 0 : 1;
            written.push_back(At(kStart + i * 1000, unit, 0.1 + i * 0.01, i % 10 == 0 ? "0,05 uSv" : ""));
            ASSERT_TRUE(archive->Append(kDevice, written.back())) << archive->LastError();
        }
        // The same number under the other family is refused and stores nothing.
        LiveDevice other = kDevice;
        other.boardCode = 520;
        EXPECT_FALSE(archive->Append(other, At(kStart + 60'000, 0, 1)));
        EXPECT_EQ(archive->LastError(), "device 123-45678 is archived as an R630, not an R520; reading not stored");
    }
    std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {});
    ASSERT_TRUE(archive);
    std::optional<std::vector<LiveReading>> stored = archive->LastDay(kDevice.serial, kStart + 40'000);
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored, written);
    // A span, and a device the archive does not know.
    std::optional<std::vector<LiveReading>> span = archive->Readings(kDevice.serial, kStart + 5000, kStart + 8000);
    ASSERT_TRUE(span);
    EXPECT_EQ(*span, std::vector<LiveReading>(written.begin() + 5, written.begin() + 8));
    EXPECT_EQ(archive->Readings("999-99999", 0, kStart * 2)->size(), 0u);
    // Older than the day before now: not restored.
    EXPECT_TRUE(archive->LastDay(kDevice.serial, kStart + 30'000 + LiveTrend::kKeptMs)->empty());

    // The history's list names the device, with no records and no downloads.
    std::unique_ptr<HistoryArchive> history = HistoryArchive::Open(path, {});
    ASSERT_TRUE(history);
    std::optional<ArchiveDeviceSummary> listed = history->Device(kDevice.serial);
    ASSERT_TRUE(listed);
    EXPECT_EQ(std::tie(listed->boardCode, listed->recordCount, listed->firstTime, listed->lastTime, listed->downloads),
              std::make_tuple(630, std::uint64_t{0}, 0u, 0u, 0u));
    EXPECT_EQ(history->Devices().size(), 1u);

    LiveTrend trend;
    trend.Restore(*stored);
    EXPECT_EQ(trend.UnitCode(), 1);
    ASSERT_EQ(trend.Readings().size(), 10u);
    EXPECT_EQ(trend.Readings().front(), written[20]);
}

struct MinuteRow {
    std::int64_t count = 0;
    double minimum = 0, mean = 0, maximum = 0;
};

TEST(LiveArchive, OldReadingsRollUpIntoExactMinutesInBoundedSteps) {
    test::TempFolder folder;
    const std::string path = folder.Path() + "/history.sqlite";
    std::unique_ptr<LiveArchive> archive = LiveArchive::Open(path, {});
    ASSERT_TRUE(archive);
    // Three hours at 1 Hz, a unit change in the middle of a minute, values that are no nice
    // binary fractions; then a reading 15 days later makes them all old.
    std::vector<LiveReading> old;
    std::map<std::pair<std::int64_t, int>, std::vector<double>> expected;
    for (int i = 0; i < 3 * 3600; ++i) {
        const std::uint8_t unit = i < 5430 ? 0 : 2;
        const double value = unit == 0 ? 0.07 + (i * 37 % 101) * 0.01 : 10 + i % 13;
        old.push_back(At(kStart + i * 1000LL + 250, unit, value));
        expected[{kStart + i / 60 * 60'000LL, unit}].push_back(value);
    }
    ASSERT_TRUE(archive->Append(kDevice, old));
    const std::int64_t late = kStart + 15 * 24 * 3600'000LL;
    ASSERT_TRUE(archive->Append(kDevice, At(late, 0, 0.12)));
    // The first append after open rolls up one step of at most kLiveCompactRows (whole
    // minutes); every further append another while some are left.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    auto count = [db](const char* sql) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        sqlite3_step(stmt);
        const std::int64_t n = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        return n;
    };
    EXPECT_EQ(count("SELECT count(*) FROM live_readings"), 3 * 3600 + 1 - 4980);
    ASSERT_TRUE(archive->Append(kDevice, At(late + 1000, 0, 0.13)));
    ASSERT_TRUE(archive->Append(kDevice, At(late + 2000, 0, 0.14)));
    EXPECT_EQ(count("SELECT count(*) FROM live_readings"), 3);
    // Nothing left behind: the next append within the hour does not roll up.
    EXPECT_EQ(archive->Compact(kDevice.serial, late + 2000), 0);

    std::map<std::pair<std::int64_t, int>, MinuteRow> rows;
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT minute, unit, count, minimum, mean, maximum FROM live_minutes", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        rows[{sqlite3_column_int64(stmt, 0), sqlite3_column_int(stmt, 1)}] = {
            sqlite3_column_int64(stmt, 2), sqlite3_column_double(stmt, 3), sqlite3_column_double(stmt, 4),
            sqlite3_column_double(stmt, 5)};
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    ASSERT_EQ(rows.size(), expected.size());
    for (const auto& [key, values] : expected) {
        SCOPED_TRACE(key.first);
        const MinuteRow& row = rows[key];
        double sum = 0;
        for (double v : values) sum += v;
        EXPECT_EQ(row.count, static_cast<std::int64_t>(values.size()));
        EXPECT_EQ(row.minimum, *std::min_element(values.begin(), values.end()));
        EXPECT_EQ(row.maximum, *std::max_element(values.begin(), values.end()));
        EXPECT_DOUBLE_EQ(row.mean, sum / static_cast<double>(values.size()));
    }
    // The minute the unit changed in has a row per unit.
    const std::pair<std::int64_t, int> changed0{kStart + 90 * 60'000LL, 0}, changed2{kStart + 90 * 60'000LL, 2};
    EXPECT_EQ(rows[changed0].count, 30);
    EXPECT_EQ(rows[changed2].count, 30);

    // Read back: minutes as readings at their start with the mean, then the raw ones.
    std::optional<std::vector<LiveReading>> all = archive->Readings(kDevice.serial, 0, late * 2);
    ASSERT_TRUE(all);
    ASSERT_EQ(all->size(), expected.size() + 3);
    EXPECT_EQ((*all)[0].timeMs, kStart);
    const std::pair<std::int64_t, int> first{kStart, 0};
    EXPECT_DOUBLE_EQ((*all)[0].value, rows[first].mean);
    EXPECT_EQ((*all)[90].unitCode, 0);
    EXPECT_EQ((*all)[91].unitCode, 2);
    EXPECT_EQ(all->back(), At(late + 2000, 0, 0.14));
    EXPECT_TRUE(std::is_sorted(all->begin(), all->end(),
                               [](const LiveReading& a, const LiveReading& b) { return a.timeMs < b.timeMs; }));

    // The export streams exactly the trend's CSV text of the same readings.
    const std::string csv = folder.Path() + "/live.csv";
    std::uint64_t lines = 0;
    ASSERT_TRUE(archive->WriteCsvFile(kDevice.serial, 0, late * 2, csv, &lines));
    EXPECT_EQ(lines, all->size());
    std::ifstream in(csv, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), LiveCsvText(*all));
}

}  // namespace
}  // namespace kalvo
