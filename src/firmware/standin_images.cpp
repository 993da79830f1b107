// Stand-ins for the firmware images when the build was given no real ones: the exact sizes and
// layouts (main images zero-padded up to a trailer word, data images with their header and an
// erased tail), filled from a fixed seed so every build carries the same bytes.
#include <array>

#include "firmware/builtin_images.h"

namespace kalvo {

namespace {

class StandInBytes {
public:
    explicit StandInBytes(std::uint64_t seed) : state_(seed) {}
    std::uint8_t Next() {
        // splitmix64: small, and the same everywhere.
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<std::uint8_t>(z ^ (z >> 31));
    }

private:
    std::uint64_t state_;
};

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr char kMarker[] = "KALVO STAND-IN FIRMWARE - NOT FOR A REAL DEVICE";

// Code, zeros up to the last word, and a trailer made from the code.
std::vector<std::uint8_t> MainStandIn(std::size_t size, std::size_t codeSize, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes(size, 0);
    StandInBytes random(seed);
    for (std::size_t i = 0; i < codeSize; ++i) bytes[i] = random.Next();
    std::copy(std::begin(kMarker), std::end(kMarker), bytes.begin() + 16);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < size - 4; ++i) sum = sum * 31 + bytes[i];
    PutU32(bytes, size - 4, sum == 0xFFFFFFFFu ? 0x5AA55AA5u : sum);
    return bytes;
}

// The header words 4096, 4096, 2048, 1, 9 and the sector count, contents, an erased tail.
std::vector<std::uint8_t> DataStandIn(std::size_t size, std::uint64_t seed) {
    std::vector<std::uint8_t> bytes(size, 0xFF);
    StandInBytes random(seed);
    const std::size_t filled = size - 1536;
    for (std::size_t i = 24; i < filled; ++i) bytes[i] = random.Next();
    const std::uint32_t header[] = {4096, 4096, 2048, 1, 9, static_cast<std::uint32_t>(size / 4096)};
    for (std::size_t i = 0; i < 6; ++i) PutU32(bytes, 4 * i, header[i]);
    std::copy(std::begin(kMarker), std::end(kMarker), bytes.begin() + 32);
    return bytes;
}

struct StandIns {
    // The R520 code stays below 0xCBFC so that the 64 KB write holds all of it.
    std::vector<std::uint8_t> r630A = MainStandIn(kR630MainImageSize, 45056, 0x630A);
    std::vector<std::uint8_t> r630B = MainStandIn(kR630MainImageSize, 46080, 0x630B);
    std::vector<std::uint8_t> r520 = MainStandIn(kR520MainImageSize, 49152, 0x5200);
    std::vector<std::uint8_t> r630Data = DataStandIn(kR630DataImageSize, 0x630D);
    std::vector<std::uint8_t> r520Data = DataStandIn(kR520DataImageSize, 0x520D);
    std::array<FirmwareImage, 5> images{{
        {"r630_rev41_main.bin", 630, ImageKind::Main, r630A, true},
        {"r630_rev42_main.bin", 630, ImageKind::Main, r630B, true},
        {"r520_rev2-4_main.bin", 520, ImageKind::Main, r520, true},
        {"r630_data.bin", 630, ImageKind::Data, r630Data, true},
        {"r520_data.bin", 520, ImageKind::Data, r520Data, true},
    }};
};

}  // namespace

std::span<const FirmwareImage> BuiltInImages() {
    // Made once, on first use, and never changed afterwards.
    static const StandIns standIns;
    return standIns.images;
}

}  // namespace kalvo
