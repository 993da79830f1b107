#pragma once
// What the program knows about the attached device, and the text forms of it. Pure data and
// functions; reading it from the device is IdentificationCache's job.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kalvo {

inline constexpr int kBoardCodeR630 = 630;
inline constexpr int kBoardCodeR520 = 520;
// A further model of the maker, and what a boot loader older than 4.0 is taken for.
inline constexpr int kBoardCode415 = 415;
// Boot loaders from this version on answer ReadBoardInfo.
inline constexpr std::uint16_t kBoardInfoBootVersion = 0x0400;

struct SoftInfo {
    std::uint16_t bootVersion = 0;
    std::uint16_t mainVersion = 0;  // 0: the boot loader runs ("BOOT" mode)
    std::uint32_t descriptorAddress = 0;

    static constexpr std::size_t kSize = 8;
    static SoftInfo FromBytes(const std::uint8_t* bytes);
    bool InBootMode() const { return mainVersion == 0; }
};

struct CpuDescriptor {
    std::uint16_t cpuCode = 0;
    std::uint32_t flashSize = 0;
    std::uint32_t inf1Address = 0;
    std::uint32_t firmwareStart = 0;

    static constexpr std::size_t kSize = 48;
    static CpuDescriptor FromBytes(const std::uint8_t* bytes);
};

struct BoardInfo {
    std::uint16_t boardCode = 0;
    std::uint8_t revision = 0;
    std::uint8_t variant = 0;  // bits 0-1: the R520 handheld model, 1 or 2

    static constexpr std::size_t kSize = 4;
    static BoardInfo FromBytes(const std::uint8_t* bytes);
};

using Inf1Record = std::array<std::uint8_t, 16>;
using DeviceUid = std::array<std::uint8_t, 12>;

struct DeviceIdentity {
    bool identified = false;
    Inf1Record inf1{};
    DeviceUid uid{};
    SoftInfo softInfo;
    BoardInfo boardInfo;
    std::string modelText;
};

// Facts that follow from the CPU code; codes not listed give page size 0, UID address 0 and a
// small-page CPU.
struct CpuFacts {
    std::uint32_t pageSize = 0;
    std::uint32_t uidAddress = 0;
    bool smallPage = true;
};
CpuFacts CpuFactsOf(std::uint16_t cpuCode);

// INF_1 board type to board code: 1 -> 415, 4 and 8 -> 520, 6 -> 630; types 2, 3, 5, 7, 9,
// 10, 11, 12 are further models of the maker, coded 400 + type. Others have none.
std::optional<int> BoardCodeOfType(std::uint8_t boardType);

// The clock commands are allowed for these board codes (415 only from revision 40).
bool ClockCapable(int boardCode, int revision);

std::string FormatUid(const DeviceUid& uid);
std::string FormatSerial(const Inf1Record& inf1);           // 123-45678
std::string FormatSerialForFolder(const Inf1Record& inf1);  // 1-23-45678
std::string FormatVersion(std::uint16_t version);           // 4.1
std::string BoardText(const Inf1Record& inf1);
std::string BoardYText(const Inf1Record& inf1);

}  // namespace kalvo
