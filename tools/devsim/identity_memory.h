#pragma once
// Where the device keeps what identifies it, and what it holds there: the CPU descriptor and
// the INF_1 block in the boot loader's part of the CPU flash, the chip's unique identifier in
// the system memory of the microcontroller.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kalvo::devsim {

struct SimOptions;

inline constexpr std::uint32_t kCpuFlashBase = 0x08000000;
inline constexpr std::uint32_t kDescriptorAddress = 0x08000100;
inline constexpr std::size_t kDescriptorSize = 48;
inline constexpr std::size_t kInf1Size = 16;
inline constexpr std::size_t kUidSize = 12;
// Boot loaders up to 1.6 keep the identifier where the first chips had it, whatever the CPU.
inline constexpr std::uint16_t kLastOldUidBoot = 0x0106;
inline constexpr std::uint32_t kOldUidAddress = 0x1FFFF7E8;
// CPU code 1 boot loaders put this into the descriptor, but the block lies at 0x080027F0.
inline constexpr std::uint32_t kCpu1StoredInf1Address = 0x08002780;

using Uid = std::array<std::uint8_t, kUidSize>;

struct CpuFacts {
    std::uint32_t pageSize;
    std::uint32_t uidAddress;
};
// Codes the maker never used get a 1 KB page and the old identifier address.
CpuFacts CpuFactsOf(std::uint16_t cpuCode);

// Addresses of one simulated unit, fixed by its options.
struct IdentityLayout {
    std::uint32_t pageSize = 0;
    std::uint32_t firmwareStart = 0;        // first byte of the main firmware
    std::uint32_t inf1Address = 0;          // where the block is
    std::uint32_t storedInf1Address = 0;    // what the descriptor says
    std::uint32_t uidAddress = 0;

    static IdentityLayout For(const SimOptions& options);
};

std::array<std::uint8_t, kDescriptorSize> DescriptorBytes(const SimOptions& options, const IdentityLayout& layout);
// The serial number goes into bytes 9-12, two digits a byte, low nibble first.
std::array<std::uint8_t, kInf1Size> Inf1Bytes(const SimOptions& options);
// The unit's identifier: the one given, else one made from the serial number.
Uid UidOf(const SimOptions& options);

// "0011AABB..." with optional ':' or '-' between bytes.
std::optional<Uid> ParseUid(const std::string& text);

}  // namespace kalvo::devsim
