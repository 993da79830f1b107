// Identification as the boot loader serves it: SoftInfo (01 01), BoardInfo (01 0A) and memory
// reads (01 02), which is how the program reaches the descriptor, INF_1, the identifier and
// the live values.
#include "devsim/identity_memory.h"

#include <algorithm>
#include <cctype>

#include "devsim/byte_io.h"
#include "devsim/device_commands.h"
#include "devsim/device_model.h"
#include "devsim/random_source.h"

namespace kalvo::devsim {

CpuFacts CpuFactsOf(std::uint16_t cpuCode) {
    switch (cpuCode) {
    case 1: case 10: return {1024, 0x1FFFF7E8};
    case 2: case 3: return {2048, 0x1FFF7590};
    case 4: return {2048, 0x1FF80050};
    case 5: case 6: case 7: case 8: return {256, 0x1FF80050};
    case 9: return {128, 0x1FF80050};
    case 11: case 12: case 13: return {2048, 0x1FFFF7E8};
    case 257: case 258: case 259: case 260: return {128, 0x4926};
    default: return {1024, kOldUidAddress};
    }
}

IdentityLayout IdentityLayout::For(const SimOptions& options) {
    IdentityLayout layout;
    CpuFacts facts = CpuFactsOf(options.cpuCode);
    layout.pageSize = facts.pageSize;
    layout.uidAddress = options.bootVersion <= kLastOldUidBoot ? kOldUidAddress : facts.uidAddress;
    // The boot loader's share of the flash: what is left beside the family's main image
    // (56 KB of 64 KB on R630, 115 KB of 128 KB on R520), 10 KB on CPU code 1 chips.
    std::uint32_t bootSize = options.cpuCode == 1 ? 0x2800 : options.model == Model::R630 ? 0x2000 : 0x3400;
    bootSize = (bootSize + layout.pageSize - 1) / layout.pageSize * layout.pageSize;
    layout.firmwareStart = options.firmwareStart.value_or(kCpuFlashBase + bootSize);
    // INF_1 closes the boot loader's area.
    layout.inf1Address = layout.firmwareStart - static_cast<std::uint32_t>(kInf1Size);
    layout.storedInf1Address = options.cpuCode == 1 ? kCpu1StoredInf1Address : layout.inf1Address;
    return layout;
}

std::array<std::uint8_t, kDescriptorSize> DescriptorBytes(const SimOptions& options, const IdentityLayout& layout) {
    std::array<std::uint8_t, kDescriptorSize> bytes{};
    PutU16(bytes, 0, options.cpuCode);
    PutU32(bytes, 6, options.flashSize);
    PutU32(bytes, 10, layout.storedInf1Address);
    PutU32(bytes, 14, layout.firmwareStart);
    return bytes;
}

std::array<std::uint8_t, kInf1Size> Inf1Bytes(const SimOptions& options) {
    std::array<std::uint8_t, kInf1Size> bytes{};
    bytes[0] = 0x01;  // block format
    bytes[1] = options.boardType;
    bytes[2] = options.boardNumber;
    bytes[3] = options.boardY[0];
    bytes[4] = options.boardY[1];
    auto nibble = [&](std::size_t i) {
        char c = options.serialNumber[i];
        return static_cast<std::uint8_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'A' + 10);
    };
    for (std::size_t i = 0; i < 4; ++i) bytes[9 + i] = static_cast<std::uint8_t>(nibble(2 * i) | nibble(2 * i + 1) << 4);
    return bytes;
}

Uid UidOf(const SimOptions& options) {
    if (options.uid) return *options.uid;
    std::uint64_t serial = 0;
    for (char c : options.serialNumber) serial = serial * 16 + static_cast<std::uint64_t>(c);
    RandomSource random(serial, kIdentityStream);
    Uid uid{};
    for (std::uint8_t& byte : uid) byte = static_cast<std::uint8_t>(random.Next());
    return uid;
}

std::optional<Uid> ParseUid(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += c;
    }
    if (digits.size() != 2 * kUidSize) return std::nullopt;
    Uid uid{};
    for (std::size_t i = 0; i < kUidSize; ++i) {
        uid[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return uid;
}

namespace {

using Fields = std::span<const std::uint8_t>;

AnswerData ReadSoftInfo(SimDevice& device, int, Fields) {
    std::vector<std::uint8_t> answer;
    AppendU16(answer, device.Options().bootVersion);
    AppendU16(answer, device.RunningMainVersion());
    AppendU32(answer, kDescriptorAddress);
    return answer;
}

// Older boot loaders do not know the command and stay silent.
AnswerData ReadBoardInfo(SimDevice& device, int, Fields) {
    if (device.Options().bootVersion < kBoardInfoBootVersion) return std::nullopt;
    std::vector<std::uint8_t> answer;
    AppendU16(answer, device.BoardCode());
    answer.push_back(device.Options().revision);
    answer.push_back(device.Options().variant);
    return answer;
}

// Address, the count of data bytes, the data; the count is cut to what one answer carries.
AnswerData ReadMemory(SimDevice& device, int, Fields fields) {
    if (fields.size() < 5) return std::nullopt;
    std::uint32_t address = GetU32(fields);
    std::size_t length = std::min<std::size_t>(fields[4], kMaxReadBlock);
    auto data = device.ReadMemory(address, length);
    if (!data) {
        device.Note("memory read at " + HexAddress(address) + " length " + std::to_string(length) +
                    " outside the memory map: no answer");
        return std::nullopt;
    }
    std::vector<std::uint8_t> answer;
    AppendU32(answer, address);
    answer.push_back(static_cast<std::uint8_t>(length));
    answer.insert(answer.end(), data->begin(), data->end());
    return answer;
}

}  // namespace

void RegisterIdentityCommands(CommandTable& table) {
    table.Register(MakeCode(0x01, 0x01), "ReadSoftInfo", ReadSoftInfo);
    table.Register(MakeCode(0x01, 0x02), "ReadMemory", ReadMemory);
    table.Register(MakeCode(0x01, 0x0A), "ReadBoardInfo", ReadBoardInfo);
}

}  // namespace kalvo::devsim
