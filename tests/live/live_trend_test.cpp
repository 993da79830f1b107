// The live trend: statistics against hand-computed figures, the per-column decimation against a
// plain computation over the same readings, series by unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "live/live_csv.h"
#include "live/live_trend.h"

namespace kalvo {
namespace {

LiveReading At(std::int64_t seconds, double value, std::uint8_t unit = 0) {
    return LiveReading{seconds * 1000, unit, value, ""};
}

TEST(LiveTrendStatistics, MatchHandComputedFigures) {
    struct Row {
        const char* name;
        std::vector<LiveReading> readings;
        std::optional<double> threshold;
        TrendStatistics expected;
    };
    const std::vector<Row> rows = {
        {"empty", {}, 0.2, {}},
        {"one reading", {At(0, 0.15)}, 0.1, {1, 0.15, 0.15, 0.15, 0, 1000}},
        // 2, 4, 4, 4, 5, 5, 7, 9: mean 5, sum of squares 32, sample deviation sqrt(32 / 7).
        {"eight readings a second apart",
         {At(0, 2), At(1, 4), At(2, 4), At(3, 4), At(4, 5), At(5, 5), At(6, 7), At(7, 9)},
         4.5,
         {8, 5, 2, 9, 2.1380899352993950, 4000}},
        // Above at 0 (gap 1 s), at 1 (gap 10 s, counted as 3 s), at 11 (gap 1 s); the last one,
        // above too, stands for one period.
        {"a pause is not time above", {At(0, 1), At(1, 1), At(11, 1), At(12, 0), At(13, 2)}, 0.5,
         {5, 1, 0, 2, 0.70710678118654757, 6000}},
        {"no threshold known", {At(0, 3), At(1, 5)}, std::nullopt, {2, 4, 3, 5, 1.4142135623730951, 0}},
        {"equal to the threshold is not above", {At(0, 3), At(1, 3)}, 3.0, {2, 3, 3, 3, 0, 0}},
    };
    for (const Row& row : rows) {
        const TrendStatistics s = ComputeStatistics(row.readings, row.threshold);
        EXPECT_EQ(s.count, row.expected.count) << row.name;
        EXPECT_DOUBLE_EQ(s.mean, row.expected.mean) << row.name;
        EXPECT_DOUBLE_EQ(s.minimum, row.expected.minimum) << row.name;
        EXPECT_DOUBLE_EQ(s.maximum, row.expected.maximum) << row.name;
        EXPECT_NEAR(s.deviation, row.expected.deviation, 1e-12) << row.name;
        EXPECT_EQ(s.aboveMs, row.expected.aboveMs) << row.name;
    }
}

TEST(LiveTrendDecimation, KeepsEveryExtremeAndEqualsAPlainComputation) {
    // Three hours at one reading a second, with single-reading spikes and a dip.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(0.10, 0.20);
    std::vector<LiveReading> readings;
    for (std::int64_t s = 0; s < 10800; ++s) readings.push_back(At(s, noise(random)));
    for (std::int64_t s : {17, 5000, 10799}) readings[static_cast<std::size_t>(s)].value = 50;
    readings[1234].value = 0;

    for (int columns : {1, 7, 333, 640}) {
        const std::int64_t from = 0, to = 10800 * 1000LL;
        const std::vector<TrendColumn> got = DecimateColumns(readings, from, to, columns);
        ASSERT_EQ(got.size(), static_cast<std::size_t>(columns));
        // The plain way: every reading against every column's bounds.
        std::size_t total = 0;
        for (int c = 0; c < columns; ++c) {
            TrendColumn want;
            for (const LiveReading& r : readings) {
                const auto column = static_cast<int>(static_cast<double>(r.timeMs - from) / double(to - from) * columns);
                if (column != c) continue;
                want.minimum = want.count ? std::min(want.minimum, r.value) : r.value;
                want.maximum = want.count ? std::max(want.maximum, r.value) : r.value;
                ++want.count;
            }
            EXPECT_EQ(got[c].count, want.count) << columns << " columns, column " << c;
            EXPECT_EQ(got[c].minimum, want.minimum) << columns << " columns, column " << c;
            EXPECT_EQ(got[c].maximum, want.maximum) << columns << " columns, column " << c;
            total += got[c].count;
        }
        EXPECT_EQ(total, readings.size());
        const auto highest = std::count_if(got.begin(), got.end(), [](const TrendColumn& c) { return c.maximum == 50; });
        EXPECT_EQ(highest, std::min(columns, 3)) << columns;
        EXPECT_TRUE(std::any_of(got.begin(), got.end(), [](const TrendColumn& c) { return c.count && c.minimum == 0; }));
    }
    // Outside the readings, and a span too small for a column.
    EXPECT_EQ(DecimateColumns(readings, -5000, -1000, 4)[0].count, 0u);
    EXPECT_TRUE(DecimateColumns(readings, 0, 0, 4)[3].count == 0);
    EXPECT_TRUE(DecimateColumns(readings, 0, 1000, 0).empty());
}

TEST(LiveTrendSeries, AUnitChangeOrAClockSetBackStartsANewSeriesAndADayIsKept) {
    LiveTrend trend;
    trend.Append(At(100, 0.12, 0));
    trend.Append(At(101, 0.13, 0));
    const auto first = trend.Series();
    EXPECT_EQ(trend.Readings().size(), 2u);
    trend.Append(At(102, 13, 1));  // roentgen now
    EXPECT_EQ(trend.Series(), first + 1);
    ASSERT_EQ(trend.Readings().size(), 1u);
    EXPECT_EQ(trend.UnitCode(), std::optional<std::uint8_t>(1));
    trend.Append(At(50, 12, 1));  // the PC's clock went back
    EXPECT_EQ(trend.Series(), first + 2);
    EXPECT_EQ(trend.Readings().size(), 1u);

    // Two days at a reading a second: only the last day stays, and spans end at the newest.
    trend.Clear();
    for (std::int64_t s = 0; s < 2 * 86400; ++s) trend.Append(At(s, 1));
    EXPECT_EQ(trend.Readings().size(), 86401u);
    EXPECT_EQ(trend.Shown(TrendSpan::TenMinutes, 0).size(), 601u);
    EXPECT_EQ(trend.Shown(TrendSpan::OneHour, 0).size(), 3601u);
    EXPECT_EQ(trend.Shown(TrendSpan::OneDay, 0).size(), 86401u);
    // Restored readings of mixed units: the last series.
    trend.Restore(std::vector<LiveReading>{At(1, 5, 2), At(2, 6, 2), At(3, 0.1, 0), At(4, 0.2, 0)});
    ASSERT_EQ(trend.Readings().size(), 2u);
    EXPECT_EQ(trend.Readings().front().value, 0.1);
}

}  // namespace
}  // namespace kalvo

namespace kalvo {
namespace {

TEST(LiveCsv, LinesAreExactInEveryUnitAndOffset) {
    const std::int64_t t = (283900000LL + 946684800LL) * 1000;  // 29.12.2008 21:06:40 UTC
    struct Row {
        LiveReading reading;
        std::int64_t offset;
        const char* line;
    };
    const Row rows[] = {
        {{t, 0, 0.15, ""}, 0, "283900000;29.12.2008;21:06:40;uSv/h;0,15"},
        {{t + 999, 0, 12.34, "1,2 uSv"}, 0, "283900000;29.12.2008;21:06:40;uSv/h;12,34"},
        {{t, 1, 15, ""}, 3 * 3600, "283910800;30.12.2008;00:06:40;uR/h;15"},
        {{t, 2, 30, ""}, -5 * 3600, "283882000;29.12.2008;16:06:40;CPM;30"},
        {{t, 7, 30.456, ""}, 0, "283900000;29.12.2008;21:06:40;CPM;30,46"},  // a minute's mean
        {{946684800LL * 1000 - 1000, 0, 0.1, ""}, 0, "-1;31.12.1999;23:59:59;uSv/h;0,10"},
        {{(951782400LL + 59) * 1000, 1, 7, ""}, 0, "5097659;29.02.2000;00:00:59;uR/h;7"},
    };
    for (const Row& row : rows) EXPECT_EQ(LiveCsvLine(row.reading, row.offset), row.line);

    // The file: header, CR LF after every line, the PC's zone applied.
    ::setenv("TZ", "XYZ-3", 1);
    ::tzset();
    EXPECT_EQ(LocalUtcOffsetSeconds(t), 3 * 3600);
    const std::vector<LiveReading> readings = {{t, 0, 0.15, ""}, {t + 1000, 0, 0.2, ""}};
    EXPECT_EQ(LiveCsvText(readings), "TIME_IN_SECOND_FROM_2000;DATE;TIME;UNIT;VALUE\r\n"
                                     "283910800;30.12.2008;00:06:40;uSv/h;0,15\r\n"
                                     "283910801;30.12.2008;00:06:41;uSv/h;0,20\r\n");
}

}  // namespace
}  // namespace kalvo
