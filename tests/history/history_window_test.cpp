#include <gtest/gtest.h>

#include "history/history_window.h"
#include "history/record_source.h"

namespace kalvo {
namespace {

using test::Rec;
using test::VectorRecordSource;

struct Window {
    std::uint64_t pulses;
    std::uint32_t covered;
    std::uint32_t maximum;
    bool operator==(const Window&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Window& w) {
    return out << "{" << w.pulses << ", " << w.covered << ", " << w.maximum << "}";
}

std::vector<Window> Walk(const HistoryRecordSource& records, std::uint32_t start, std::uint32_t seconds, int count) {
    HistoryWindow window(records);
    window.Begin(start);
    std::vector<Window> result;
    for (int i = 0; i < count; ++i) {
        window.Next(seconds);
        result.push_back({window.PulseSum(), window.CoveredSeconds(), window.MaximumRate()});
    }
    window.End();
    return result;
}

TEST(HistoryWindowCompare, AgainstTheRawLength) {
    HistoryRecord record = Rec(100, 10, 0);
    EXPECT_EQ(CompareRecordTime(record, 99), -1);
    EXPECT_EQ(CompareRecordTime(record, 100), 0);
    EXPECT_EQ(CompareRecordTime(record, 109), 0);
    EXPECT_EQ(CompareRecordTime(record, 110), 1);
    EXPECT_EQ(CompareRecordTime(Rec(100, 0, 0), 100), 1);  // length 0: already over
    // Near the top of the range the end does not wrap.
    EXPECT_EQ(CompareRecordTime(Rec(0xFFFFFFF0, 0xFFFF, 0), 0xFFFFFFFF), 0);
}

TEST(HistoryWindowFind, Bisection) {
    VectorRecordSource none;
    EXPECT_FALSE(HistoryWindow(none).Find(5));

    VectorRecordSource one({Rec(100, 10, 0)});
    EXPECT_EQ(HistoryWindow(one).Find(5), 0u);
    EXPECT_EQ(HistoryWindow(one).Find(500), 0u);  // one record: always that one

    VectorRecordSource records;
    for (std::uint32_t i = 0; i < 1000; ++i) records.records.push_back(Rec(1000 + 60 * i, 60, i));
    HistoryWindow window(records);
    EXPECT_EQ(window.Find(0), 0u);
    EXPECT_EQ(window.Find(1000), 0u);
    EXPECT_EQ(window.Find(1059), 0u);
    EXPECT_EQ(window.Find(1060), 1u);
    for (std::uint32_t i = 0; i < 1000; ++i) {
        ASSERT_EQ(window.Find(1000 + 60 * i + 30), i);
        ASSERT_EQ(window.Find(1000 + 60 * i), i);
    }
    EXPECT_EQ(window.Find(1000 + 60 * 999 + 59), 999u);
    EXPECT_FALSE(window.Find(1000 + 60 * 1000));

    // Gaps: the first record that does not end before t.
    VectorRecordSource gaps({Rec(100, 10, 0), Rec(200, 10, 0), Rec(300, 10, 0), Rec(400, 10, 0)});
    HistoryWindow gapWindow(gaps);
    EXPECT_EQ(gapWindow.Find(150), 1u);
    EXPECT_EQ(gapWindow.Find(250), 2u);
    EXPECT_EQ(gapWindow.Find(305), 2u);
    EXPECT_EQ(gapWindow.Find(399), 3u);
    EXPECT_FALSE(gapWindow.Find(410));
}

TEST(HistoryWindowFind, IsLogarithmic) {
    VectorRecordSource records;
    for (std::uint32_t i = 0; i < 65280; ++i) records.records.push_back(Rec(60 * i, 60, 1));
    HistoryWindow window(records);
    records.reads = 0;
    EXPECT_EQ(window.Find(60 * 40000 + 7), 40000u);
    EXPECT_LT(records.reads, 60);
}

TEST(HistoryWindowWalk, StraddlingRecordIsSplitInProportion) {
    // 5..14 across the 10-second windows 0..9 and 10..19; 101 pulses: 50 + 50, one dropped.
    VectorRecordSource records({Rec(5, 10, 101)});
    EXPECT_EQ(Walk(records, 0, 10, 3), (std::vector<Window>{{50, 5, 101}, {50, 5, 101}, {0, 0, 0}}));
    // Unequal shares: 3 s and 7 s of 100 pulses.
    VectorRecordSource uneven({Rec(7, 10, 100)});
    EXPECT_EQ(Walk(uneven, 0, 10, 2), (std::vector<Window>{{30, 3, 100}, {70, 7, 100}}));
    // A record covering several windows gives each its share.
    VectorRecordSource longRecord({Rec(0, 60, 600)});
    EXPECT_EQ(Walk(longRecord, 0, 10, 7),
              (std::vector<Window>{{100, 10, 100}, {100, 10, 100}, {100, 10, 100}, {100, 10, 100},
                                   {100, 10, 100}, {100, 10, 100}, {0, 0, 0}}));
}

TEST(HistoryWindowWalk, LengthZeroCountsAsOneSecondWithoutAMaximum) {
    VectorRecordSource records({Rec(3, 0, 7), Rec(4, 0, 5), Rec(12, 0, 9)});
    EXPECT_EQ(Walk(records, 0, 10, 2), (std::vector<Window>{{12, 2, 0}, {9, 1, 0}}));
}

TEST(HistoryWindowWalk, PartialCoverageAndGaps) {
    VectorRecordSource records({Rec(0, 10, 10), Rec(30, 10, 20), Rec(55, 10, 30)});
    EXPECT_EQ(Walk(records, 0, 60, 2), (std::vector<Window>{{10 + 20 + 15, 25, 30}, {15, 5, 30}}));
}

TEST(HistoryWindowWalk, MaximumPer10SecondsFromRecordsOfAtLeast10Seconds) {
    VectorRecordSource records({Rec(0, 20, 100), Rec(20, 9, 900), Rec(29, 31, 310)});
    // 20 s with 100 pulses: 50 per 10 s; 9 s records give no maximum; 31 s with 310: 100.
    EXPECT_EQ(Walk(records, 0, 60, 1), (std::vector<Window>{{100 + 900 + 310, 60, 100}}));
}

TEST(HistoryWindowWalk, SumsAndRatesDoNotWrapIn32Bits) {
    VectorRecordSource records({Rec(0, 10, 0xFFFFFFFF), Rec(10, 10, 0xFFFFFFFF), Rec(20, 10, 0xFFFFFFFF)});
    std::vector<Window> windows = Walk(records, 0, 30, 1);
    EXPECT_EQ(windows[0].pulses, 3ull * 0xFFFFFFFF);
    EXPECT_EQ(windows[0].maximum, 0xFFFFFFFFu);  // pulses x 10 would wrap in 32 bits
}

TEST(HistoryWindowWalk, UncommittedRecordsAreSkipped) {
    VectorRecordSource records({Rec(0, 10, 10), Rec(10, 10, 1000, 0xFF), Rec(20, 10, 30, 1)});
    EXPECT_EQ(Walk(records, 0, 30, 1), (std::vector<Window>{{10, 10, 10}}));
}

TEST(HistoryWindowWalk, ARecordMoreThanAnHourEarlierEndsTheWindow) {
    // The clock went back by 3601 s between the first and second record.
    VectorRecordSource records({Rec(10000, 10, 10), Rec(10000 - 3601, 10, 50), Rec(10010, 10, 20)});
    HistoryWindow window(records);
    window.Begin(10000);
    window.Next(60);
    EXPECT_EQ(window.PulseSum(), 10u);
    EXPECT_EQ(window.CoveredSeconds(), 10u);
    EXPECT_EQ(window.Cursor(), 1u);
    EXPECT_EQ(window.WindowStart(), 10060u);

    // Exactly an hour earlier does not stop; the earlier record just lies before the window.
    VectorRecordSource hour({Rec(10000, 10, 10), Rec(10000 - 3600, 10, 50), Rec(10010, 10, 20)});
    EXPECT_EQ(Walk(hour, 10000, 60, 1), (std::vector<Window>{{30, 20, 20}}));
}

TEST(HistoryWindowWalk, CursorAndWindowStartMoveOnlyForwards) {
    VectorRecordSource records({Rec(0, 10, 10), Rec(10, 10, 20), Rec(20, 10, 30)});
    HistoryWindow window(records);
    window.Begin(0);
    EXPECT_TRUE(window.Active());
    window.Next(10);
    EXPECT_EQ(window.Cursor(), 1u);  // the window ended exactly with record 0
    EXPECT_EQ(window.WindowStart(), 10u);
    window.Next(15);
    EXPECT_EQ(window.PulseSum(), 20u + 15u);
    EXPECT_EQ(window.Cursor(), 2u);  // record 2 continues into the next window
    window.Next(100);
    EXPECT_EQ(window.PulseSum(), 15u);
    EXPECT_EQ(window.Cursor(), 2u);  // never past the last record
    window.Next(100);
    EXPECT_EQ(window.PulseSum(), 0u);
    EXPECT_EQ(window.WindowStart(), 225u);
    window.End();
    EXPECT_FALSE(window.Active());
}

TEST(HistoryWindowWalk, PeriodsBeforeTheFirstAndAfterTheLastRecord) {
    VectorRecordSource records({Rec(100, 10, 10), Rec(110, 10, 20)});
    EXPECT_EQ(Walk(records, 60, 20, 5),
              (std::vector<Window>{{0, 0, 0}, {0, 0, 0}, {30, 20, 20}, {0, 0, 0}, {0, 0, 0}}));

    HistoryWindow window(records);
    window.Begin(120);  // after the newest record: Find gives none
    EXPECT_FALSE(window.Active());
    window.Next(10);
    EXPECT_EQ(window.PulseSum(), 0u);
    EXPECT_EQ(window.CoveredSeconds(), 0u);

    VectorRecordSource none;
    HistoryWindow empty(none);
    empty.Begin(0);
    EXPECT_FALSE(empty.Active());
}

TEST(HistoryWindowWalk, PumpRunsOncePerRecordWalked) {
    VectorRecordSource records({Rec(0, 10, 1), Rec(10, 10, 1), Rec(20, 10, 1), Rec(30, 10, 1)});
    int pumps = 0;
    HistoryWindow window(records, [&] { ++pumps; });
    window.Begin(0);
    window.Next(20);
    EXPECT_EQ(pumps, 2);
    window.Next(20);
    EXPECT_EQ(pumps, 4);
}

TEST(HistoryWindowWalk, AZeroLengthWindowIsEmpty) {
    VectorRecordSource records({Rec(0, 10, 10)});
    HistoryWindow window(records);
    window.Begin(0);
    window.Next(0);
    EXPECT_EQ(window.CoveredSeconds(), 0u);
    EXPECT_EQ(window.WindowStart(), 0u);
}

}  // namespace
}  // namespace kalvo
