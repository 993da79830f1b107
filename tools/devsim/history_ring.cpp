#include "devsim/history_ring.h"

#include "devsim/byte_io.h"
#include "devsim/flash_memory.h"
#include "devsim/parameters.h"

namespace kalvo::devsim {

std::array<std::uint8_t, kRecordSize> HistoryRecord::Bytes() const {
    std::array<std::uint8_t, kRecordSize> bytes{};
    bytes[0] = status;
    bytes[1] = commit;
    PutU16(bytes, 2, tag);
    PutU32(bytes, 4, start);
    PutU32(bytes, 8, pulses);
    PutU16(bytes, 12, length);
    PutU16(bytes, 14, spare);
    return bytes;
}

HistoryRecord HistoryRecord::FromBytes(const std::uint8_t* bytes) {
    std::span<const std::uint8_t> b(bytes, kRecordSize);
    return HistoryRecord{b[0], b[1], GetU16(b, 2), GetU32(b, 4), GetU32(b, 8), GetU16(b, 12), GetU16(b, 14)};
}

void HistoryRing::Write(std::uint32_t physical, const HistoryRecord& record) {
    auto bytes = record.Bytes();
    eflash_.Fill(SlotAddress(physical), bytes);
}

HistoryRecord HistoryRing::Read(std::uint32_t physical) const {
    return HistoryRecord::FromBytes(eflash_.Read(SlotAddress(physical), kRecordSize).data());
}

std::uint32_t HistoryRing::HeaderParameter(std::uint16_t id) const {
    auto halves = [](std::uint32_t high, std::uint32_t low) { return high << 16 | (low & 0xFFFF); };
    switch (id) {
    case kParamRingGeometry: return halves(kRingPageSize, kRingAreaValue);
    case kParamRingGeometry + 1: return halves(kRingPages, state_.count);
    case kParamRingGeometry + 2: return halves(state_.first, state_.last);
    default: return state_.wrapped ? 1 : 0;
    }
}

void HistoryRing::Erase() {
    for (std::uint32_t address = kRingBase; address < kRingEnd; address += kEflashSector) eflash_.EraseUnitAt(address);
    state_ = RingState{};
}

void HistoryRing::OpenPage(std::uint32_t page, std::uint32_t start) {
    const std::uint32_t firstPage = state_.first / kSlotsPerPage;
    const bool holdsPage = state_.count > 0 && page == firstPage;
    eflash_.EraseUnitAt(SlotAddress(page * kSlotsPerPage));
    if (holdsPage) {
        // The ring is full: the oldest page goes.
        state_.first = static_cast<std::uint16_t>((page + 1) % kRingPages * kSlotsPerPage);
        state_.wrapped = true;
    }
    if (state_.count == 0) state_.first = static_cast<std::uint16_t>(page * kSlotsPerPage);
    HistoryRecord header;
    header.status = kStatusPageHeader;
    header.commit = kPageHeaderCommit;
    header.tag = static_cast<std::uint16_t>(page);
    header.start = start;
    Write(page * kSlotsPerPage, header);
    state_.last = static_cast<std::uint16_t>(page * kSlotsPerPage);
    state_.count = static_cast<std::uint16_t>((state_.last + kRingSlots - state_.first) % kRingSlots + 1);
}

void HistoryRing::Append(const HistoryRecord& record) {
    std::uint32_t slot = state_.count == 0 ? 0 : (state_.last + 1u) % kRingSlots;
    if (slot % kSlotsPerPage == 0) {
        OpenPage(slot / kSlotsPerPage, record.start);
        ++slot;
    }
    Write(slot, record);
    state_.last = static_cast<std::uint16_t>(slot);
    state_.count = static_cast<std::uint16_t>((state_.last + kRingSlots - state_.first) % kRingSlots + 1);
    if (slot % kSlotsPerPage == kSlotsPerPage - 1)
        OpenPage((slot / kSlotsPerPage + 1) % kRingPages, record.start + record.length);
}

std::vector<std::uint8_t> HistoryRing::LogicalRecords() const {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(std::size_t{state_.count} * kRecordSize);
    for (std::uint32_t i = 0; i < state_.count; ++i) {
        auto slot = eflash_.Read(SlotAddress(PhysicalOf(i)), kRecordSize);
        bytes.insert(bytes.end(), slot.begin(), slot.end());
    }
    return bytes;
}

}  // namespace kalvo::devsim
