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
