#include "history/history_image.h"

#include <algorithm>
#include <cstring>

namespace kalvo {

namespace {

HistoryRecordBytes ErasedBytes() {
    HistoryRecordBytes bytes;
    bytes.fill(0xFF);
    return bytes;
}

}  // namespace

HistoryImage::HistoryImage() : slots_(kSlots, ErasedBytes()) {}

// One fill of the whole 1 MiB: every download starts with it.
void HistoryImage::Erase() { std::memset(slots_.data(), 0xFF, slots_.size() * sizeof(HistoryRecordBytes)); }

void HistoryStore::BeginDownload() {
    header_ = HistoryHeader{};
    loaded_ = false;
    image_.Erase();
    heldPair_.reset();
}

std::optional<HistoryRecordBytes> HistoryStore::Fetch(std::uint32_t physical, HistoryPairSource& device) {
    if (physical >= kHistoryRingRecords) return std::nullopt;
    if (loaded_) return image_.Slot(static_cast<std::uint16_t>(physical));
    std::uint32_t pairIndex = physical & ~1u;
    if (heldPair_ != pairIndex) {
        heldPair_.reset();
        // A short answer would leave part of the pair from an earlier read, so it fails.
        int got = device.ReadEflash(kHistoryBaseAddress + kHistoryRecordSize * pairIndex, pair_.data(), kPairBytes);
        if (got < kPairBytes) return std::nullopt;
        heldPair_ = pairIndex;
    }
    HistoryRecordBytes bytes;
    std::memcpy(bytes.data(), pair_.data() + (physical & 1u) * kHistoryRecordSize, kHistoryRecordSize);
    return bytes;
}

bool HistoryStore::ReadPage(std::uint32_t page, HistoryPairSource& device) {
    for (std::uint32_t slot = 0; slot < kHistoryRecordsPerPage; ++slot) {
        std::uint32_t physical = page * kHistoryRecordsPerPage + slot;
        std::optional<HistoryRecordBytes> bytes = Fetch(physical, device);
        if (!bytes) return false;
        image_.Store(static_cast<std::uint16_t>(physical), *bytes);
    }
    return true;
}

std::uint32_t HistoryStore::RecordCount() const { return loaded_ ? header_.recordCount : 0; }

std::optional<HistoryRecord> HistoryStore::RecordAt(std::uint32_t logical) const {
    if (logical >= RecordCount()) return std::nullopt;
    std::uint32_t physical = LogicalToPhysical(header_.firstIndex, logical);
    if (physical >= kHistoryRingRecords) return std::nullopt;
    return image_.Record(static_cast<std::uint16_t>(physical));
}

}  // namespace kalvo
