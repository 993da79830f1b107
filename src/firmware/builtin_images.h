#pragma once
// The firmware release the program carries: one main image per R630 board revision, one for
// R520, and one data image per family. Real images are embedded at build time from the files
// named by KALVO_FIRMWARE_DIR; without them the program carries deterministic stand-ins of the
// same sizes and layouts, which must never reach a real dosimeter (see StandInsAllowed).
//
// The images are immutable once made; any thread may read them.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvo {

enum class ImageKind { Main, Data };

inline constexpr std::size_t kR630MainImageSize = 57344;    // 0xE000
inline constexpr std::size_t kR520MainImageSize = 117760;   // 0x1CC00
inline constexpr std::size_t kR520ShortMainSize = 52224;    // 0xCC00, for a 64 KB CPU flash
inline constexpr std::size_t kR630DataImageSize = 311296;   // 76 sectors of 4 KB
inline constexpr std::size_t kR520DataImageSize = 798720;   // 195 sectors
inline constexpr std::uint8_t kR630RevisionA = 0x29;        // ")"
inline constexpr std::uint8_t kR630RevisionB = 0x2A;        // "*"
inline constexpr std::uint32_t kShortMainCpuFlash = 0x10000;

struct FirmwareImage {
    std::string_view fileName;  // as exported, and as KALVO_FIRMWARE_DIR must hold it
    int boardCode;
    ImageKind kind;
    std::span<const std::uint8_t> bytes;
    bool standIn;

    std::size_t Size() const { return bytes.size(); }
    // The last 32-bit word of a main image, little-endian.
    std::uint32_t Trailer() const;
};

// Every built-in image, in a fixed order: R630 main A and B, R520 main, R630 data, R520 data.
std::span<const FirmwareImage> BuiltInImages();

// The main image for a board code and BoardInfo revision byte; null when there is none.
const FirmwareImage* MainImageFor(int boardCode, std::uint8_t revision);
// The data image of a family; null for other board codes.
const FirmwareImage* DataImageFor(int boardCode);

// What is written for a main image on this CPU: the whole image, or for R520 with a 64 KB flash
// its first 52224 bytes ending in the image's trailer word.
std::vector<std::uint8_t> MainImageBytesFor(const FirmwareImage& image, std::uint32_t cpuFlashSize);

// True when the program carries stand-ins instead of real firmware.
bool CarriesStandInFirmware();
// KALVO_ALLOW_STANDIN_FIRMWARE=1: the user knowingly sends stand-ins (to the simulator).
bool StandInsAllowedByEnvironment();

}  // namespace kalvo
