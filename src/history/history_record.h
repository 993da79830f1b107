#pragma once
// The history ring of the device: its 16-byte records, the header the device reports for it,
// and the order in which its pages are read. Pure data and arithmetic; no device traffic.
#include <array>
#include <cstdint>
#include <optional>

namespace kalvo {

inline constexpr std::uint32_t kHistoryRecordSize = 16;
inline constexpr std::uint32_t kHistoryRecordsPerPage = 256;
inline constexpr std::uint32_t kHistoryPageSize = 4096;
// Physical record indices run 0 .. 0xFF00 - 1: 255 pages, not 256.
inline constexpr std::uint32_t kHistoryRingRecords = 0xFF00;
inline constexpr std::uint32_t kHistoryMaxPages = 255;
inline constexpr std::uint32_t kHistoryMaxAreaValue = 0x700;
// External-flash address of physical record 0.
inline constexpr std::uint32_t kHistoryBaseAddress = 0x100000;

inline constexpr std::uint8_t kHistoryStatusExported1 = 0xFE;
inline constexpr std::uint8_t kHistoryStatusExported2 = 0xFC;

using HistoryRecordBytes = std::array<std::uint8_t, kHistoryRecordSize>;

struct HistoryRecord {
    std::uint8_t status = 0xFF;
    std::uint8_t commit = 0xFF;  // 0: the record counts; an erased slot reads 0xFF
    std::uint16_t spare2 = 0xFFFF;
    std::uint32_t startTime = 0xFFFFFFFF;  // device seconds since 2000-01-01 00:00:00
    std::uint32_t pulses = 0xFFFFFFFF;
    std::uint16_t length = 0xFFFF;  // seconds
    std::uint16_t spare14 = 0xFFFF;

    // A default record is what an erased slot reads.
    static HistoryRecord FromBytes(const HistoryRecordBytes& bytes);
    HistoryRecordBytes ToBytes() const;

    bool Counts() const { return commit == 0; }
    // Only these go into the CSV text.
    bool Exportable() const {
        return Counts() && (status == kHistoryStatusExported1 || status == kHistoryStatusExported2);
    }
    bool operator==(const HistoryRecord&) const = default;
};

// Built from device parameters 0xC020 .. 0xC023; all 0 until read.
struct HistoryHeader {
    std::uint16_t pageSize = 0;     // high(0xC020)
    std::uint16_t areaValue = 0;    // low(0xC020), only checked
    std::uint16_t ringPages = 0;    // N, high(0xC021)
    std::uint16_t recordCount = 0;  // low(0xC021)
    std::uint16_t firstIndex = 0;   // high(0xC022): physical index of the oldest record
    std::uint16_t lastIndex = 0;    // low(0xC022): physical index of the newest record
    bool extraFlag = false;         // low byte of 0xC023, kept only

    static HistoryHeader FromParameters(std::uint32_t c020, std::uint32_t c021, std::uint32_t c022,
                                        std::uint32_t c023);
    bool operator==(const HistoryHeader&) const = default;
};

// The pages of an accepted header in the order they are read: from the last page backwards,
// wrapping from page 0 to page N - 1.
struct HistoryPagePlan {
    std::uint32_t firstPage = 0;
    std::uint32_t lastPage = 0;
    std::uint32_t pageCount = 0;
    std::uint32_t ringPages = 0;

    // The page read at step 0 .. pageCount - 1.
    std::uint32_t PageAt(std::uint32_t step) const;
};

// The consistency rule: page size 4096, area value at most 0x700, N at most 255, and record
// count / 256 + 1 equal to the number of pages from the first to the last record (wrapping at
// N). nullopt: the header is rejected ("Error of History Format Data").
std::optional<HistoryPagePlan> PlanHistoryRead(const HistoryHeader& header);

// Logical index (0 = oldest) to physical index; wraps at 0xFF00.
std::uint32_t LogicalToPhysical(std::uint16_t firstIndex, std::uint32_t logical);

}  // namespace kalvo
