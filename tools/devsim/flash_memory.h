#pragma once
// NOR flash as the device has it twice: the CPU flash (pages) and the external flash (4 KB
// sectors). Erasing sets a whole unit to FF; programming can only clear bits, so a write over
// bytes that were not erased first leaves the AND of old and new, as the chip does.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kalvo::devsim {

inline constexpr std::uint8_t kErased = 0xFF;
inline constexpr std::uint32_t kEflashSector = 4096;

class FlashArray {
public:
    // base: address of the first byte; size: a multiple of eraseUnit (a power of two).
    FlashArray(std::uint32_t base, std::uint32_t size, std::uint32_t eraseUnit);

    std::uint32_t Base() const { return base_; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
    std::uint32_t EraseUnit() const { return eraseUnit_; }
    bool Contains(std::uint32_t address, std::size_t length) const;

    // Callers check Contains() first.
    std::span<const std::uint8_t> Read(std::uint32_t address, std::size_t length) const;
    // False when some bit had to go from 0 back to 1 (the byte keeps the AND).
    bool Program(std::uint32_t address, std::span<const std::uint8_t> data);
    // The unit that holds address; returns the unit's first address.
    std::uint32_t EraseUnitAt(std::uint32_t address);
    // Factory contents, written past the flash rules.
    void Fill(std::uint32_t address, std::span<const std::uint8_t> data);

    std::span<const std::uint8_t> Bytes() const { return bytes_; }

private:
    std::size_t Offset(std::uint32_t address) const { return address - base_; }

    std::uint32_t base_;
    std::uint32_t eraseUnit_;
    std::vector<std::uint8_t> bytes_;
};

}  // namespace kalvo::devsim
