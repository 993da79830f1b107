// The history ring: its description in the parameters against its records in the external
// flash, for each kind of history, and its erase.
#include <gtest/gtest.h>

#include "devsim/device_model.h"
#include "devsim_test_support.h"

namespace kalvo::devsim {
namespace {

using test::Bytes;
using test::TestDevice;
using test::TestOptions;

struct Header {
    std::uint32_t pageSize, area, pages, count, first, last, flag;
};

Header ReadHeader(TestDevice& unit) {
    std::uint32_t p[4];
    for (std::uint16_t i = 0; i < 4; ++i) p[i] = *unit.ReadParameter(static_cast<std::uint16_t>(0xC020 + i));
    return {p[0] >> 16, p[0] & 0xFFFF, p[1] >> 16, p[1] & 0xFFFF, p[2] >> 16, p[2] & 0xFFFF, p[3] & 0xFF};
}

// The program's acceptance rule for a ring description.
bool ProgramAccepts(const Header& h) {
    std::uint32_t firstPage = h.first / 256, lastPage = h.last / 256;
    std::uint32_t pageCount = firstPage <= lastPage ? lastPage - firstPage + 1 : firstPage - lastPage + h.pages - 1;
    return h.count / 256 + 1 == pageCount && h.pageSize == 4096 && h.area <= 0x700 && h.pages <= 255;
}

struct Walk {
    std::vector<HistoryRecord> records;  // logical order, page headers included
    int uncommitted = 0, altStatus = 0, blankStatus = 0, zeroLength = 0, longGaps = 0, hourStraddles = 0;
    double pulses = 0, seconds = 0;
};

// Reads the ring the way the program does: 32-byte pairs through ReadEflash.
Walk ReadRing(TestDevice& unit, const Header& h) {
    Walk walk;
    std::uint32_t previousEnd = 0;
    std::optional<Bytes> pair;
    for (std::uint32_t i = 0; i < h.count; ++i) {
        std::uint32_t physical = (h.first + i) % kRingSlots;
        if (i == 0 || physical % 2 == 0) pair = unit.Ask(0x02, 0x02, test::Fields32And8(kRingBase + 16 * (physical & ~1u), 32), 2);
        EXPECT_TRUE(pair && pair->size() == 37);
        if (!pair || pair->size() != 37) break;
        HistoryRecord record = HistoryRecord::FromBytes(pair->data() + 5 + 16 * (physical & 1));
        walk.records.push_back(record);
        if (physical % 256 == 0) {
            EXPECT_EQ(record.status, kStatusPageHeader) << i;
            EXPECT_NE(record.commit, 0) << i;
            continue;
        }
        EXPECT_NE(record.status, kStatusPageHeader) << i;
        if (record.commit != 0) ++walk.uncommitted;
        if (record.status == 0xFC) ++walk.altStatus;
        if (record.status == 0xFF) ++walk.blankStatus;
        if (record.length == 0) ++walk.zeroLength;
        if (previousEnd != 0 && record.start > previousEnd + 3600) ++walk.longGaps;
        if (record.start / 3600 != (record.start + record.length - 1) / 3600 && record.length > 0) ++walk.hourStraddles;
        EXPECT_GE(record.start, previousEnd) << i;  // oldest first, no overlaps
        previousEnd = record.start + record.length;
        walk.pulses += record.pulses;
        walk.seconds += std::max<std::uint16_t>(record.length, 1);
    }
    EXPECT_LE(previousEnd, test::kTestClock);
    EXPECT_GE(previousEnd + 60, test::kTestClock);  // the newest record is recent
    return walk;
}

// uR/h as the program's chart computes it.
double ChartRate(const Walk& walk, const SimOptions& options, std::uint32_t calibration) {
    double perTube = options.model == Model::R630 ? 86 : 68;
    double tubes = options.model == Model::R630 ? 2 : 1;
    return walk.pulses * 3600 * calibration / 100.0 / walk.seconds / perTube / tubes;
}

TestDevice UnitWith(HistoryKind kind, Model model = Model::R630, std::uint64_t seed = 1) {
    SimOptions options = TestOptions(model);
    options.history = kind;
    options.seed = seed;
    return TestDevice(options);
}

void ExpectEveryIrregularRecord(const Walk& walk) {
    EXPECT_GT(walk.uncommitted, 0);
    EXPECT_GT(walk.altStatus, 0);
    EXPECT_GT(walk.blankStatus, 0);
    EXPECT_GT(walk.zeroLength, 0);
    EXPECT_GT(walk.longGaps, 0);
    EXPECT_GT(walk.hourStraddles, 0);
}

TEST(HistoryRing, EmptyRingIsOneErasedPage) {
    TestDevice unit = UnitWith(HistoryKind::Empty);
    Header h = ReadHeader(unit);
    EXPECT_EQ(h.pageSize, 4096u);
    EXPECT_EQ(h.area, 0x100u);
    EXPECT_EQ(h.pages, 255u);
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(h.first, 0u);
    EXPECT_EQ(h.last, 0u);
    EXPECT_TRUE(ProgramAccepts(h));
    EXPECT_EQ(unit.Ask(0x02, 0x02, test::Fields32And8(kRingBase, 32), 2), [] {
        Bytes answer = test::Fields32And8(kRingBase, 32);
        answer.insert(answer.end(), 32, 0xFF);
        return answer;
    }());
}

TEST(HistoryRing, ShortRingWithinOnePageHasEveryIrregularRecord) {
    TestDevice unit = UnitWith(HistoryKind::Short);
    Header h = ReadHeader(unit);
    EXPECT_TRUE(ProgramAccepts(h));
    EXPECT_EQ(h.first, 0u);
    EXPECT_LT(h.last, 256u);
    EXPECT_EQ(h.count, h.last + 1);
    EXPECT_GE(h.count, 100u);
    EXPECT_EQ(h.flag, 0u);
    Walk walk = ReadRing(unit, h);
    ExpectEveryIrregularRecord(walk);
    double rate = ChartRate(walk, unit.Device().Options(), 127);
    EXPECT_GT(rate, 7.0);
    EXPECT_LT(rate, 25.0);
}

TEST(HistoryRing, FullRingUsesEveryPageAndIsRegular) {
    TestDevice unit = UnitWith(HistoryKind::Full);
    Header h = ReadHeader(unit);
    EXPECT_TRUE(ProgramAccepts(h));
    EXPECT_EQ(h.count, kRingSlots - 1);
    EXPECT_EQ(h.first / 256, (h.last / 256 + 1) % 255);
    EXPECT_EQ(h.flag, 1u);
    Walk walk = ReadRing(unit, h);
    EXPECT_EQ(walk.uncommitted + walk.altStatus + walk.blankStatus + walk.zeroLength + walk.longGaps, 0);
    double rate = ChartRate(walk, unit.Device().Options(), 127);
    EXPECT_GT(rate, 8.0);
    EXPECT_LT(rate, 20.0);
}

TEST(HistoryRing, WrappedRingCrossesTheEndAndHasEveryIrregularRecord) {
    for (std::uint64_t seed : {1u, 2u}) {
        TestDevice unit = UnitWith(HistoryKind::Wrapped, Model::R520, seed);
        Header h = ReadHeader(unit);
        EXPECT_TRUE(ProgramAccepts(h)) << seed;
        EXPECT_EQ(h.first / 256, h.last / 256 + 1);
        EXPECT_GT(h.count, 254u * 256);
        EXPECT_LT(h.count, kRingSlots);
        EXPECT_EQ(h.flag, 1u);
        Walk walk = ReadRing(unit, h);
        ASSERT_EQ(walk.records.size(), h.count);
        ExpectEveryIrregularRecord(walk);
        double rate = ChartRate(walk, unit.Device().Options(), 100);
        EXPECT_GT(rate, 8.0) << seed;
        EXPECT_LT(rate, 20.0) << seed;
        // Slots past the newest in its page are still erased.
        auto slot = unit.Device().Eflash().Read(HistoryRing::SlotAddress(h.last + 1u), 16);
        EXPECT_EQ(Bytes(slot.begin(), slot.end()), Bytes(16, 0xFF));
    }
}

TEST(HistoryRing, OverfullRingIsADescriptionTheProgramRefuses) {
    TestDevice unit = UnitWith(HistoryKind::Overfull);
    Header h = ReadHeader(unit);
    EXPECT_EQ(h.count, kRingSlots);
    EXPECT_EQ(h.first, 0u);
    EXPECT_EQ(h.last, kRingSlots - 1);
    EXPECT_FALSE(ProgramAccepts(h));
}

TEST(HistoryRing, OnTimeMethodRecordsMinutes) {
    SimOptions options = TestOptions();
    options.parameters = {{kParamHistoryMethod, 0}};
    TestDevice unit(options);
    Walk walk = ReadRing(unit, ReadHeader(unit));
    int minutes = 0;
    for (const HistoryRecord& record : walk.records) minutes += record.length == 60 ? 1 : 0;
    EXPECT_GT(minutes, static_cast<int>(walk.records.size()) * 8 / 10);
}

TEST(HistoryRing, SameSeedSameHistory) {
    auto ring = [](std::uint64_t seed) { return UnitWith(HistoryKind::Wrapped, Model::R630, seed).Device().History().LogicalRecords(); };
    std::vector<std::uint8_t> first = ring(9);
    EXPECT_EQ(first, ring(9));
    EXPECT_NE(first, ring(10));
    EXPECT_EQ(first.size() % 16, 0u);
}

TEST(HistoryRing, EraseInsideAnExchangeEmptiesTheRing) {
    TestDevice unit = UnitWith(HistoryKind::Short);
    EXPECT_EQ(unit.WriteParameter(kCommandParameter, kExchangeBegin), kExchangeBegin);
    EXPECT_TRUE(unit.Device().InExchange());
    EXPECT_EQ(unit.WriteParameter(kCommandParameter, kEraseHistory), kEraseHistory);
    EXPECT_EQ(unit.WriteParameter(kCommandParameter, kExchangeEnd), kExchangeEnd);
    EXPECT_FALSE(unit.Device().InExchange());
    Header h = ReadHeader(unit);
    EXPECT_EQ(h.count, 0u);
    EXPECT_EQ(h.first, 0u);
    EXPECT_EQ(h.last, 0u);
    EXPECT_TRUE(ProgramAccepts(h));
    auto ring = unit.Device().Eflash().Read(kRingBase, kRingEnd - kRingBase);
    EXPECT_TRUE(std::all_of(ring.begin(), ring.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(unit.Device().History().LogicalRecords().empty());
}

// --append-at-exchange-end: the writer goes on after each exchange end, opening pages with
// their headers and, once the ring is full, dropping its oldest page; the clock moves past.
TEST(HistoryRing, TheWriterAppendsAfterEachExchangeEnd) {
    for (HistoryKind kind : {HistoryKind::Empty, HistoryKind::Short, HistoryKind::Full}) {
        SCOPED_TRACE(std::string(HistoryKindName(kind)));
        SimOptions options = TestOptions();
        options.history = kind;
        options.appendAtExchangeEnd = 300;
        TestDevice unit(options);
        const Header before = ReadHeader(unit);
        const std::vector<std::uint8_t> old = unit.Device().History().LogicalRecords();
        for (int round = 0; round < 2; ++round) {
            EXPECT_EQ(unit.WriteParameter(kCommandParameter, kExchangeBegin), kExchangeBegin);
            EXPECT_EQ(unit.WriteParameter(kCommandParameter, kExchangeEnd), kExchangeEnd);
        }
        const Header after = ReadHeader(unit);
        EXPECT_TRUE(ProgramAccepts(after));
        const std::vector<std::uint8_t> bytes = unit.Device().History().LogicalRecords();
        ASSERT_EQ(bytes.size(), std::size_t{after.count} * 16);
        std::vector<HistoryRecord> records;
        for (std::size_t i = 0; i < bytes.size(); i += 16) records.push_back(HistoryRecord::FromBytes(bytes.data() + i));
        int measurements = 0;
        std::uint32_t previousEnd = 0;
        for (std::uint32_t i = 0; i < records.size(); ++i) {
            const std::uint32_t physical = (after.first + i) % kRingSlots;
            EXPECT_EQ(records[i].status == kStatusPageHeader, physical % 256 == 0) << i;
            if (physical % 256 == 0) continue;
            EXPECT_GE(records[i].start, previousEnd) << i;
            previousEnd = records[i].start + records[i].length;
            measurements += records[i].start > test::kTestClock - 60 ? 1 : 0;
        }
        EXPECT_GE(measurements, 600);
        EXPECT_EQ(records.back().length, 60);
        if (kind == HistoryKind::Full) {
            // Full: as many pages dropped at the front as were opened at the end.
            EXPECT_EQ(after.flag, 1u);
            EXPECT_EQ(after.first / 256, (after.last / 256 + 1) % 255);
            EXPECT_NE(after.first, before.first);
            // What is left of the old records is the newest part of them, unchanged.
            const std::size_t kept = old.size() - (std::size_t{(after.first - before.first + kRingSlots) % kRingSlots}) * 16;
            EXPECT_TRUE(std::equal(old.end() - static_cast<std::ptrdiff_t>(kept), old.end(), bytes.begin()));
        } else {
            EXPECT_EQ(after.first, before.first);
            EXPECT_TRUE(std::equal(old.begin(), old.end(), bytes.begin()));
        }
        // The clock reads past the newest record.
        auto time = unit.Ask(0x01, 0x0C);
        ASSERT_TRUE(time && time->size() == 7);
        const std::uint64_t clock = ToDeviceSeconds({(*time)[0], (*time)[1], (*time)[2], (*time)[3], (*time)[4], (*time)[5]});
        EXPECT_GE(clock, previousEnd);
    }
}

TEST(HistoryRing, KindNames) {
    for (auto kind : {HistoryKind::Empty, HistoryKind::Short, HistoryKind::Full, HistoryKind::Wrapped, HistoryKind::Overfull}) {
        EXPECT_EQ(ParseHistoryKind(HistoryKindName(kind)), kind);
    }
    EXPECT_FALSE(ParseHistoryKind("long"));
}

}  // namespace
}  // namespace kalvo::devsim
