#pragma once
// The history ring in the external flash: 255 pages of 4 KB from 0x100000, 256 slots of 16
// bytes each. Slot 0 of every page holds the page's header record; measurements fill slots 1
// to 255. The ring description (first and last slot, slots in use) is what the parameters
// 0xC020-0xC023 report; the slots themselves are read with ReadEflash like any other bytes.
#include <array>
#include <cstdint>
#include <vector>

namespace kalvo::devsim {

class FlashArray;

inline constexpr std::uint32_t kRingBase = 0x100000;
inline constexpr std::uint32_t kRecordSize = 16;
inline constexpr std::uint32_t kSlotsPerPage = 256;
inline constexpr std::uint32_t kRingPages = 255;
inline constexpr std::uint32_t kRingSlots = kSlotsPerPage * kRingPages;  // 65280
inline constexpr std::uint32_t kRingPageSize = kSlotsPerPage * kRecordSize;
inline constexpr std::uint32_t kRingEnd = kRingBase + kRingSlots * kRecordSize;
// Low half of 0xC020: the ring's first 4 KB sector.
inline constexpr std::uint16_t kRingAreaValue = kRingBase / kRingPageSize;

inline constexpr std::uint8_t kStatusMeasurement = 0xFE;
inline constexpr std::uint8_t kStatusMeasurementAlt = 0xFC;  // also a measurement
inline constexpr std::uint8_t kStatusPageHeader = 0xF0;
inline constexpr std::uint8_t kCommitted = 0x00;
inline constexpr std::uint8_t kPageHeaderCommit = 0x01;  // never counted as a measurement

struct HistoryRecord {
    std::uint8_t status = kStatusMeasurement;
    std::uint8_t commit = kCommitted;
    std::uint16_t tag = 0;       // page sequence number in a page header, else 0
    std::uint32_t start = 0;     // device seconds
    std::uint32_t pulses = 0;
    std::uint16_t length = 0;    // seconds
    std::uint16_t spare = 0xFFFF;

    std::array<std::uint8_t, kRecordSize> Bytes() const;
    static HistoryRecord FromBytes(const std::uint8_t* bytes);
};

struct RingState {
    std::uint16_t first = 0;  // physical slot of the oldest record
    std::uint16_t last = 0;   // physical slot of the newest
    std::uint16_t count = 0;  // slots from first to last, page headers included; 0: empty
    bool wrapped = false;     // the writer has gone round at least once
};

class HistoryRing {
public:
    explicit HistoryRing(FlashArray& eflash) : eflash_(eflash) {}

    const RingState& State() const { return state_; }
    void SetState(const RingState& state) { state_ = state; }
    static std::uint32_t SlotAddress(std::uint32_t physical) { return kRingBase + physical * kRecordSize; }
    std::uint32_t PhysicalOf(std::uint32_t logical) const { return (state_.first + logical) % kRingSlots; }

    void Write(std::uint32_t physical, const HistoryRecord& record);
    HistoryRecord Read(std::uint32_t physical) const;
    // Value of parameter 0xC020..0xC023.
    std::uint32_t HeaderParameter(std::uint16_t id) const;
    // Erases every ring sector; the ring starts again empty at slot 0.
    void Erase();
    // The writer: puts a measurement after the newest slot, opening a page (erasing it, and so
    // dropping the oldest page when the ring is full) at slot 0 with its header; a record in the
    // last slot of a page is followed at once by the next page's header.
    void Append(const HistoryRecord& record);
    // The slots in use, oldest first, 16 bytes each.
    std::vector<std::uint8_t> LogicalRecords() const;

private:
    void OpenPage(std::uint32_t page, std::uint32_t start);

    FlashArray& eflash_;
    RingState state_;
};

}  // namespace kalvo::devsim
