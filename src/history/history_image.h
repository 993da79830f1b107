#pragma once
// The PC-side copy of the device's history ring and the access to its records: by physical
// index while downloading (from the device through a one-pair cache), by logical index (oldest
// first) once loaded.
//
// User-interface thread only.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "history/history_record.h"

namespace kalvo {

// 65536 slots of 16 bytes (1 MiB), indexed by physical record index; erased slots read 0xFF.
class HistoryImage {
public:
    static constexpr std::uint32_t kSlots = 0x10000;

    HistoryImage();
    // Sets every byte to 0xFF.
    void Erase();
    const HistoryRecordBytes& Slot(std::uint16_t physical) const { return slots_[physical]; }
    HistoryRecord Record(std::uint16_t physical) const { return HistoryRecord::FromBytes(slots_[physical]); }
    void Store(std::uint16_t physical, const HistoryRecordBytes& bytes) { slots_[physical] = bytes; }

private:
    std::vector<HistoryRecordBytes> slots_;
};

// The device side of a download: ReadEflash of the history area. The download code implements
// it over DeviceCommands; tests script it.
class HistoryPairSource {
public:
    virtual ~HistoryPairSource() = default;
    // Reads `length` bytes at `address` of the external flash: bytes copied, or -1.
    virtual int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length) = 0;
};

// What the chart's walk gathers over one bar.
struct WindowSums {
    std::uint64_t pulseSum = 0;
    std::uint32_t coveredSeconds = 0;
    std::uint32_t maximumRate = 0;  // largest pulses per 10 s of a record of at least 10 s
    bool operator==(const WindowSums&) const = default;
};

// One bar of a chart: its first second and its length.
struct BarSpan {
    std::uint32_t start = 0;
    std::uint32_t seconds = 0;
};

// Loaded records by logical index, as the chart walks them.
class HistoryRecordSource {
public:
    virtual ~HistoryRecordSource() = default;
    virtual std::uint32_t RecordCount() const = 0;
    // nullopt when the index has no record.
    virtual std::optional<HistoryRecord> RecordAt(std::uint32_t logical) const = 0;
    // Called before a chart walks the period [first, last] (device seconds): a source that reads
    // from a file fetches what that walk can reach. Sources held in memory ignore it.
    virtual void PreparePeriod(std::uint32_t /*first*/, std::uint32_t /*last*/) const {}
    // The sums the walk would gather over consecutive bars, when the source knows them without
    // handing out every record; false to be walked.
    virtual bool SumBars(const std::vector<BarSpan>& /*bars*/, std::vector<WindowSums>& /*sums*/) const {
        return false;
    }
};

// The process-wide history: image, header, the loaded flag and the one-pair cache of the
// device reads. The flag and the header are written only by the download.
class HistoryStore : public HistoryRecordSource {
public:
    static constexpr int kPairBytes = 2 * static_cast<int>(kHistoryRecordSize);

    // A new download discards everything: header 0, not loaded, image 0xFF, no held pair (the
    // device has written since the last download).
    void BeginDownload();
    void SetHeader(const HistoryHeader& header) { header_ = header; }
    const HistoryHeader& Header() const { return header_; }
    // HistoryLoaded: only after a completed download.
    void MarkLoaded() { loaded_ = true; }
    bool Loaded() const { return loaded_; }

    const HistoryImage& Image() const { return image_; }

    // The record of a physical index: from the image when loaded, otherwise from the device
    // (32-byte pair reads, the last pair held). nullopt for an index of 0xFF00 or more, or when
    // the pair could not be read whole.
    std::optional<HistoryRecordBytes> Fetch(std::uint32_t physical, HistoryPairSource& device);
    // Fetches the 256 records of a page from slot 0 upwards into the image; false at the first
    // failed fetch.
    bool ReadPage(std::uint32_t page, HistoryPairSource& device);

    // Logical view of the loaded ring (record count 0 while not loaded).
    std::uint32_t RecordCount() const override;
    std::optional<HistoryRecord> RecordAt(std::uint32_t logical) const override;

private:
    HistoryImage image_;
    HistoryHeader header_;
    bool loaded_ = false;
    std::array<std::uint8_t, kPairBytes> pair_{};
    std::optional<std::uint32_t> heldPair_;  // starts empty: pair 0 is read like any other
};

}  // namespace kalvo
