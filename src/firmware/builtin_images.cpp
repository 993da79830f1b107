#include "firmware/builtin_images.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace kalvo {

std::uint32_t FirmwareImage::Trailer() const {
    if (bytes.size() < 4) return 0;
    const std::uint8_t* last = bytes.data() + bytes.size() - 4;
    return static_cast<std::uint32_t>(last[0]) | static_cast<std::uint32_t>(last[1]) << 8 |
           static_cast<std::uint32_t>(last[2]) << 16 | static_cast<std::uint32_t>(last[3]) << 24;
}

const FirmwareImage* MainImageFor(int boardCode, std::uint8_t revision) {
    std::span<const FirmwareImage> images = BuiltInImages();
    if (boardCode == 630 && revision == kR630RevisionA) return &images[0];
    if (boardCode == 630 && revision == kR630RevisionB) return &images[1];
    if (boardCode == 520 && revision >= 2 && revision <= 4) return &images[2];
    return nullptr;
}

const FirmwareImage* DataImageFor(int boardCode) {
    std::span<const FirmwareImage> images = BuiltInImages();
    if (boardCode == 630) return &images[3];
    if (boardCode == 520) return &images[4];
    return nullptr;
}

std::vector<std::uint8_t> MainImageBytesFor(const FirmwareImage& image, std::uint32_t cpuFlashSize) {
    if (image.boardCode != 520 || cpuFlashSize != kShortMainCpuFlash || image.Size() < kR520ShortMainSize)
        return {image.bytes.begin(), image.bytes.end()};
    // The short write must still end in the trailer word the boot loader looks for.
    std::vector<std::uint8_t> bytes(image.bytes.begin(), image.bytes.begin() + kR520ShortMainSize);
    std::copy_n(image.bytes.end() - 4, 4, bytes.end() - 4);
    return bytes;
}

bool CarriesStandInFirmware() {
    std::span<const FirmwareImage> images = BuiltInImages();
    return std::any_of(images.begin(), images.end(), [](const FirmwareImage& image) { return image.standIn; });
}

bool StandInsAllowedByEnvironment() {
    const char* allowed = std::getenv("KALVO_ALLOW_STANDIN_FIRMWARE");
    return allowed && std::strcmp(allowed, "1") == 0;
}

}  // namespace kalvo
