#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "device/history_access.h"
#include "history/history_image.h"
#include "history/history_record.h"

namespace kalvo {
namespace {

HistoryRecord Committed(std::uint32_t start, std::uint16_t length, std::uint32_t pulses) {
    HistoryRecord record;
    record.status = 0xFE;
    record.commit = 0;
    record.startTime = start;
    record.length = length;
    record.pulses = pulses;
    return record;
}

// The device's history area as the download sees it through ReadEflash.
class FakeFlash : public HistoryPairSource {
public:
    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) override {
        reads.push_back({address, length});
        if (failAt && *failAt == address) return -1;
        if (shortAt && *shortAt == address) length = 16;
        for (int i = 0; i < length; ++i) {
            auto it = bytes.find(address + static_cast<std::uint32_t>(i));
            buffer[i] = it == bytes.end() ? 0xFF : it->second;
        }
        return length;
    }
    void Put(std::uint32_t physical, const HistoryRecord& record) {
        HistoryRecordBytes raw = record.ToBytes();
        for (std::uint32_t i = 0; i < 16; ++i) bytes[kHistoryBaseAddress + physical * 16 + i] = raw[i];
    }

    std::map<std::uint32_t, std::uint8_t> bytes;
    std::vector<std::pair<std::uint32_t, int>> reads;
    std::optional<std::uint32_t> failAt;
    std::optional<std::uint32_t> shortAt;
};

HistoryHeader Header(std::uint16_t first, std::uint16_t last, std::uint16_t count, std::uint16_t pages = 255) {
    HistoryHeader header;
    header.pageSize = 4096;
    header.areaValue = 0x700;
    header.ringPages = pages;
    header.recordCount = count;
    header.firstIndex = first;
    header.lastIndex = last;
    return header;
}

TEST(HistoryRecord, ParsesLittleEndianFieldsAndRoundTrips) {
    HistoryRecordBytes bytes{0xFE, 0x00, 0x12, 0x34, 0x60, 0xF8, 0xEB, 0x10, 42, 0, 0, 0, 60, 0, 0xAB, 0xCD};
    HistoryRecord record = HistoryRecord::FromBytes(bytes);
    EXPECT_EQ(record.status, 0xFE);
    EXPECT_EQ(record.commit, 0);
    EXPECT_EQ(record.spare2, 0x3412);
    EXPECT_EQ(record.startTime, 283900000u);
    EXPECT_EQ(record.pulses, 42u);
    EXPECT_EQ(record.length, 60);
    EXPECT_EQ(record.spare14, 0xCDAB);
    EXPECT_EQ(record.ToBytes(), bytes);

    HistoryRecordBytes erased;
    erased.fill(0xFF);
    EXPECT_EQ(HistoryRecord::FromBytes(erased), HistoryRecord{});
    EXPECT_EQ(HistoryRecord{}.ToBytes(), erased);
}

TEST(HistoryRecord, CountsAndExportRules) {
    HistoryRecord record = Committed(1, 1, 1);
    EXPECT_TRUE(record.Counts());
    EXPECT_TRUE(record.Exportable());
    record.status = 0xFC;
    EXPECT_TRUE(record.Exportable());
    record.status = 0xFF;
    EXPECT_TRUE(record.Counts());
    EXPECT_FALSE(record.Exportable());
    record.status = 0xFE;
    record.commit = 0xFF;
    EXPECT_FALSE(record.Counts());
    EXPECT_FALSE(record.Exportable());
    record.commit = 1;
    EXPECT_FALSE(record.Exportable());
}

TEST(HistoryHeader, SplitsTheFourParameters) {
    HistoryHeader header = HistoryHeader::FromParameters(0x10000700, 0x00FF1234, 0x0B000A7F, 0x00000100);
    EXPECT_EQ(header.pageSize, 4096);
    EXPECT_EQ(header.areaValue, 0x700);
    EXPECT_EQ(header.ringPages, 255);
    EXPECT_EQ(header.recordCount, 0x1234);
    EXPECT_EQ(header.firstIndex, 0x0B00);
    EXPECT_EQ(header.lastIndex, 0x0A7F);
    EXPECT_FALSE(header.extraFlag);  // only the low byte counts
    EXPECT_TRUE(HistoryHeader::FromParameters(0, 0, 0, 1).extraFlag);
    EXPECT_EQ(HistoryHeader{}, HistoryHeader::FromParameters(0, 0, 0, 0));
}

TEST(HistoryHeader, SinglePageRingIsAcceptedOnlyBelow256Records) {
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(Header(0x310, 0x380, 0x71));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->firstPage, 3u);
    EXPECT_EQ(plan->lastPage, 3u);
    EXPECT_EQ(plan->pageCount, 1u);
    EXPECT_EQ(plan->PageAt(0), 3u);
    EXPECT_TRUE(PlanHistoryRead(Header(0, 0, 0)));  // an empty ring
    EXPECT_TRUE(PlanHistoryRead(Header(0, 0, 255)));
    EXPECT_FALSE(PlanHistoryRead(Header(0, 0, 256)));
}

TEST(HistoryHeader, OrdinaryRingReadsFromTheLastPageDown) {
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(Header(0x0000, 0x03E7, 1000));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->pageCount, 4u);
    std::vector<std::uint32_t> pages;
    for (std::uint32_t j = 0; j < plan->pageCount; ++j) pages.push_back(plan->PageAt(j));
    EXPECT_EQ(pages, (std::vector<std::uint32_t>{3, 2, 1, 0}));
    EXPECT_FALSE(PlanHistoryRead(Header(0x0000, 0x03E7, 767)));   // 3 pages' worth
    EXPECT_FALSE(PlanHistoryRead(Header(0x0000, 0x03E7, 1024)));  // 5 pages' worth
    EXPECT_TRUE(PlanHistoryRead(Header(0x0000, 0xFEFF, 65279)));  // all 255 pages
}

TEST(HistoryHeader, WrappedRingReadsNPagesWrappingFromPage0ToNMinus1) {
    // Oldest page 11 directly follows the newest page 10.
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(Header(0x0B00, 0x0A7F, 254 * 256 + 0x80));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->pageCount, 255u);
    EXPECT_EQ(plan->PageAt(0), 10u);
    EXPECT_EQ(plan->PageAt(10), 0u);
    EXPECT_EQ(plan->PageAt(11), 254u);
    EXPECT_EQ(plan->PageAt(254), 11u);

    // A smaller ring wraps at its own N.
    plan = PlanHistoryRead(Header(0x0200, 0x01FF, 9 * 256 + 5, 10));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->pageCount, 10u);
    std::vector<std::uint32_t> pages;
    for (std::uint32_t j = 0; j < plan->pageCount; ++j) pages.push_back(plan->PageAt(j));
    EXPECT_EQ(pages, (std::vector<std::uint32_t>{1, 0, 9, 8, 7, 6, 5, 4, 3, 2}));
}

TEST(HistoryHeader, WrappedRingWithAGapCountsOnlyThePagesOfTheRing) {
    // Pages 20..254 and 0..10: 246 pages, each read once.
    std::optional<HistoryPagePlan> plan = PlanHistoryRead(Header(20 * 256, 10 * 256 + 7, 245 * 256 + 8));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->pageCount, 246u);
    EXPECT_EQ(plan->PageAt(245), 20u);
    EXPECT_FALSE(PlanHistoryRead(Header(20 * 256, 10 * 256 + 7, 0xFFFF)));
    // Pages 3..254 and 0..1: first page - last page + N - 1 would make 256 of them and read
    // page 1 twice; the ring has 254.
    EXPECT_FALSE(PlanHistoryRead(Header(3 * 256, 1 * 256 + 5, 255 * 256)));
    plan = PlanHistoryRead(Header(3 * 256, 1 * 256 + 5, 253 * 256 + 6));
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->pageCount, 254u);
}

TEST(HistoryHeader, RejectedHeaders) {
    HistoryHeader good = Header(0x0000, 0x03E7, 1000);
    ASSERT_TRUE(PlanHistoryRead(good));
    HistoryHeader header = good;
    header.pageSize = 2048;
    EXPECT_FALSE(PlanHistoryRead(header));
    header = good;
    header.areaValue = 0x701;
    EXPECT_FALSE(PlanHistoryRead(header));
    header = good;
    header.ringPages = 256;
    EXPECT_FALSE(PlanHistoryRead(header));
    EXPECT_FALSE(PlanHistoryRead(HistoryHeader{}));  // never read
    // Wrapped, but the oldest page lies outside a ring of N pages.
    EXPECT_FALSE(PlanHistoryRead(Header(0x0B00, 0x0A7F, 254 * 256 + 0x80, 11)));
    EXPECT_FALSE(PlanHistoryRead(Header(0x0B00, 0x0A7F, 0, 0)));
}

TEST(HistoryRecordMapping, LogicalIndexWrapsAt0xFF00) {
    EXPECT_EQ(LogicalToPhysical(0xFE00, 0x200), 0x100u);
    EXPECT_EQ(LogicalToPhysical(0xFE00, 0xFF), 0xFEFFu);
    EXPECT_EQ(LogicalToPhysical(0xFE00, 0x100), 0u);
    EXPECT_EQ(LogicalToPhysical(0, 5), 5u);
    EXPECT_EQ(LogicalToPhysical(0x1234, 0), 0x1234u);
}

TEST(HistoryImage, StartsAndErasesToFF) {
    HistoryImage image;
    EXPECT_EQ(image.Record(0), HistoryRecord{});
    EXPECT_EQ(image.Record(0xFFFF), HistoryRecord{});
    image.Store(7, Committed(1, 2, 3).ToBytes());
    EXPECT_EQ(image.Record(7), Committed(1, 2, 3));
    image.Erase();
    EXPECT_EQ(image.Record(7), HistoryRecord{});
}

TEST(HistoryFetch, FirstFetchAfterStartIsReadFromTheDeviceEvenForPair0) {
    FakeFlash flash;
    flash.Put(0, Committed(100, 10, 1));
    flash.Put(1, Committed(110, 10, 2));
    HistoryStore store;
    std::optional<HistoryRecordBytes> bytes = store.Fetch(0, flash);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(HistoryRecord::FromBytes(*bytes), Committed(100, 10, 1));
    ASSERT_EQ(flash.reads.size(), 1u);
    EXPECT_EQ(flash.reads[0], (std::pair<std::uint32_t, int>{0x100000, 32}));

    // The odd record of the held pair comes without traffic.
    bytes = store.Fetch(1, flash);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(HistoryRecord::FromBytes(*bytes), Committed(110, 10, 2));
    EXPECT_EQ(flash.reads.size(), 1u);
    store.Fetch(0, flash);
    EXPECT_EQ(flash.reads.size(), 1u);

    store.Fetch(3, flash);
    ASSERT_EQ(flash.reads.size(), 2u);
    EXPECT_EQ(flash.reads[1].first, 0x100020u);
    store.Fetch(0xFEFF, flash);
    EXPECT_EQ(flash.reads.back().first, 0x100000u + 16 * 0xFEFE);
}

TEST(HistoryFetch, IndicesFrom0xFF00AndFailedReadsFail) {
    FakeFlash flash;
    HistoryStore store;
    EXPECT_FALSE(store.Fetch(0xFF00, flash));
    EXPECT_FALSE(store.Fetch(0x12345, flash));
    EXPECT_TRUE(flash.reads.empty());

    flash.failAt = 0x100040;
    EXPECT_FALSE(store.Fetch(4, flash));
    EXPECT_FALSE(store.Fetch(5, flash));  // nothing held: read again, fails again
    EXPECT_EQ(flash.reads.size(), 2u);

    // A short answer is not a whole pair: it fails and is not held.
    flash.failAt.reset();
    flash.shortAt = 0x100080;
    EXPECT_FALSE(store.Fetch(9, flash));
    flash.shortAt.reset();
    EXPECT_TRUE(store.Fetch(9, flash));
    EXPECT_EQ(flash.reads.size(), 4u);
}

TEST(HistoryFetch, ANewDownloadForgetsTheHeldPair) {
    FakeFlash flash;
    flash.Put(0, Committed(100, 10, 1));
    HistoryStore store;
    ASSERT_TRUE(store.Fetch(0, flash));
    flash.Put(0, Committed(200, 10, 5));  // the device wrote since
    store.BeginDownload();
    std::optional<HistoryRecordBytes> bytes = store.Fetch(0, flash);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(HistoryRecord::FromBytes(*bytes), Committed(200, 10, 5));
    EXPECT_EQ(flash.reads.size(), 2u);
}

TEST(HistoryFetch, ReadPageFillsTheImageAndLoadedRecordsComeFromIt) {
    FakeFlash flash;
    for (std::uint32_t slot = 0; slot < 256; ++slot) flash.Put(256 * 2 + slot, Committed(1000 + slot, 1, slot));
    HistoryStore store;
    store.BeginDownload();
    ASSERT_TRUE(store.ReadPage(2, flash));
    EXPECT_EQ(flash.reads.size(), 128u);
    EXPECT_EQ(flash.reads.front().first, 0x100000u + 16 * 512);
    EXPECT_EQ(store.Image().Record(512 + 255), Committed(1255, 1, 255));
    EXPECT_EQ(store.Image().Record(511), HistoryRecord{});

    store.SetHeader(Header(512, 767, 256 - 1));
    EXPECT_EQ(store.RecordCount(), 0u);  // not loaded yet
    EXPECT_FALSE(store.RecordAt(0));
    store.MarkLoaded();
    EXPECT_TRUE(store.Loaded());
    EXPECT_EQ(store.RecordCount(), 255u);
    EXPECT_EQ(store.RecordAt(0), Committed(1000, 1, 0));
    EXPECT_EQ(store.RecordAt(254), Committed(1254, 1, 254));
    EXPECT_FALSE(store.RecordAt(255));

    // Loaded: fetches come from the image, without traffic.
    flash.reads.clear();
    std::optional<HistoryRecordBytes> bytes = store.Fetch(512 + 7, flash);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(HistoryRecord::FromBytes(*bytes), Committed(1007, 1, 7));
    EXPECT_TRUE(flash.reads.empty());

    store.BeginDownload();
    EXPECT_FALSE(store.Loaded());
    EXPECT_EQ(store.Header(), HistoryHeader{});
    EXPECT_EQ(store.Image().Record(512), HistoryRecord{});
}

TEST(HistoryFetch, ReadPageStopsAtTheFirstFailure) {
    FakeFlash flash;
    flash.failAt = 0x100000 + 16 * (256 + 100);
    HistoryStore store;
    EXPECT_FALSE(store.ReadPage(1, flash));
    EXPECT_EQ(flash.reads.size(), 51u);
    EXPECT_FALSE(store.ReadPage(255, flash));  // beyond the ring
}

TEST(HistoryFetch, LogicalRecordsOfAWrappedRing) {
    FakeFlash flash;
    flash.Put(0xFE00, Committed(1, 1, 1));
    flash.Put(0xFEFF, Committed(2, 1, 2));
    flash.Put(0x0000, Committed(3, 1, 3));
    flash.Put(0x0100, Committed(4, 1, 4));
    HistoryStore store;
    store.BeginDownload();
    for (std::uint32_t page : {254u, 0u, 1u}) ASSERT_TRUE(store.ReadPage(page, flash));
    store.SetHeader(Header(0xFE00, 0x0100, 0x201, 255));
    store.MarkLoaded();
    EXPECT_EQ(store.RecordAt(0)->startTime, 1u);
    EXPECT_EQ(store.RecordAt(0xFF)->startTime, 2u);
    EXPECT_EQ(store.RecordAt(0x100)->startTime, 3u);
    EXPECT_EQ(store.RecordAt(0x200)->startTime, 4u);
    EXPECT_FALSE(store.RecordAt(0x201));
}

DeviceIdentity Identity(int boardCode, std::uint16_t mainVersion) {
    DeviceIdentity identity;
    identity.identified = true;
    identity.boardInfo.boardCode = static_cast<std::uint16_t>(boardCode);
    identity.softInfo.mainVersion = mainVersion;
    return identity;
}

TEST(HistoryAccessCheck, LabelsAndVersions) {
    const auto en = InterfaceLanguage::English;
    const auto ru = InterfaceLanguage::Russian;
    HistoryAccess access = HistoryAccessCheck(false, true, Identity(630, 0x0C09), en);
    EXPECT_FALSE(access.passes);
    EXPECT_FALSE(access.label);
    EXPECT_FALSE(HistoryAccessCheck(true, false, Identity(630, 0x0C09), en).label);

    access = HistoryAccessCheck(true, true, Identity(630, 0), en);
    EXPECT_FALSE(access.passes);
    EXPECT_EQ(access.label, "In BOOT\n\rMode is\n\rUnavaliable");
    EXPECT_EQ(HistoryAccessCheck(true, true, Identity(520, 0), ru).label, "В режиме\n\rBOOT\n\rнедоступно");

    access = HistoryAccessCheck(true, true, Identity(630, 0x0C05), en);
    EXPECT_FALSE(access.passes);
    EXPECT_EQ(access.label, "Need\n\rto Update\n\rFirmware");
    EXPECT_EQ(HistoryAccessCheck(true, true, Identity(520, 0x0C02), ru).label, "Обновите\n\rпрошивку\n\rприбора");
    EXPECT_FALSE(HistoryAccessCheck(true, true, Identity(630, 0x0B10), en).passes);

    for (auto [board, version] : {std::pair{630, 0x0C06}, std::pair{520, 0x0C03}, std::pair{630, 0x0D00},
                                  std::pair{415, 0x0100}}) {
        access = HistoryAccessCheck(true, true, Identity(board, static_cast<std::uint16_t>(version)), en);
        EXPECT_TRUE(access.passes) << board << " " << version;
        EXPECT_EQ(access.label, "");
    }
}

}  // namespace
}  // namespace kalvo
