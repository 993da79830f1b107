#include "link/device_identity.h"

#include <cstdio>

namespace kalvo {

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The eight serial digits, low nibble of each byte first.
std::string SerialDigits(const Inf1Record& inf1) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string digits;
    for (int i = 9; i <= 12; ++i) {
        digits += kHex[inf1[static_cast<std::size_t>(i)] & 0x0F];
        digits += kHex[inf1[static_cast<std::size_t>(i)] >> 4];
    }
    return digits;
}

}  // namespace

SoftInfo SoftInfo::FromBytes(const std::uint8_t* bytes) { return {U16(bytes), U16(bytes + 2), U32(bytes + 4)}; }

CpuDescriptor CpuDescriptor::FromBytes(const std::uint8_t* bytes) {
    return {U16(bytes), U32(bytes + 6), U32(bytes + 10), U32(bytes + 14)};
}

BoardInfo BoardInfo::FromBytes(const std::uint8_t* bytes) { return {U16(bytes), bytes[2], bytes[3]}; }

CpuFacts CpuFactsOf(std::uint16_t cpuCode) {
    switch (cpuCode) {
    case 1: return {1024, 0x1FFFF7E8, false};
    case 2:
    case 3: return {2048, 0x1FFF7590, false};
    case 4: return {2048, 0x1FF80050, false};
    case 5:
    case 6:
    case 7:
    case 8: return {256, 0x1FF80050, false};
    case 9: return {128, 0x1FF80050, true};
    case 10: return {1024, 0x1FFFF7E8, false};
    case 11:
    case 12:
    case 13: return {2048, 0x1FFFF7E8, false};
    case 257:
    case 258:
    case 259:
    case 260: return {128, 0x4926, true};
    default: return {};
    }
}

std::optional<int> BoardCodeOfType(std::uint8_t boardType) {
    switch (boardType) {
    case 1: return kBoardCode415;
    case 4:
    case 8: return kBoardCodeR520;
    case 6: return kBoardCodeR630;
    case 2:
    case 3:
    case 5:
    case 7:
    case 9:
    case 10:
    case 11:
    case 12: return 400 + boardType;
    default: return std::nullopt;
    }
}

bool ClockCapable(int boardCode, int revision) {
    if (boardCode == kBoardCode415) return revision >= 40;
    if (boardCode == kBoardCodeR630 || boardCode == kBoardCodeR520) return true;
    for (int type : {2, 3, 5, 7, 9, 10, 11, 12})
        if (boardCode == 400 + type) return true;
    return false;
}

std::string FormatUid(const DeviceUid& uid) {
    std::string text;
    char hex[3];
    for (std::size_t i = 0; i < uid.size(); ++i) {
        std::snprintf(hex, sizeof hex, "%02X", uid[i]);
        if (i) text += ':';
        text += hex;
    }
    return text;
}

std::string FormatSerial(const Inf1Record& inf1) {
    std::string digits = SerialDigits(inf1);
    return digits.substr(0, 3) + "-" + digits.substr(3);
}

std::string FormatSerialForFolder(const Inf1Record& inf1) {
    std::string digits = SerialDigits(inf1);
    return digits.substr(0, 1) + "-" + digits.substr(1, 2) + "-" + digits.substr(3);
}

std::string FormatVersion(std::uint16_t version) {
    return std::to_string(version >> 8) + "." + std::to_string(version & 0xFF);
}

std::string BoardText(const Inf1Record& inf1) {
    std::optional<int> code = BoardCodeOfType(inf1[1]);
    if (!code) return "UNKNOWN";
    return "RKD-" + std::to_string(*code) + "." + std::to_string(inf1[2]);
}

std::string BoardYText(const Inf1Record& inf1) {
    if (inf1[1] == 1 && inf1[3] == 1) {
        switch (inf1[4]) {
        case 1: return "F4:L=104";
        case 2: return "F4:L=373";
        case 3: return "F4:L=107_New_ПЭ";
        default: return "F4:L=ERR";
        }
    }
    return "(" + std::to_string(inf1[3]) + ":" + std::to_string(inf1[4]) + ")";
}

}  // namespace kalvo
