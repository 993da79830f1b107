// The flashes and the commands that read, write and erase them: 02 02/03/05 for the external
// flash (channel 2), 03 03/06 and 03 05/07 for the CPU flash (channel 3, boot loader only).
#include "devsim/flash_memory.h"

#include <algorithm>

#include "devsim/byte_io.h"
#include "devsim/device_commands.h"
#include "devsim/device_model.h"

namespace kalvo::devsim {

FlashArray::FlashArray(std::uint32_t base, std::uint32_t size, std::uint32_t eraseUnit)
    : base_(base), eraseUnit_(eraseUnit), bytes_(size, kErased) {}

bool FlashArray::Contains(std::uint32_t address, std::size_t length) const {
    return address >= base_ && Offset(address) <= bytes_.size() && length <= bytes_.size() - Offset(address);
}

std::span<const std::uint8_t> FlashArray::Read(std::uint32_t address, std::size_t length) const {
    return std::span<const std::uint8_t>(bytes_).subspan(Offset(address), length);
}

bool FlashArray::Program(std::uint32_t address, std::span<const std::uint8_t> data) {
    bool clean = true;
    std::size_t at = Offset(address);
    for (std::uint8_t byte : data) {
        if ((bytes_[at] & byte) != byte) clean = false;
        bytes_[at++] &= byte;
    }
    return clean;
}

std::uint32_t FlashArray::EraseUnitAt(std::uint32_t address) {
    std::uint32_t start = address & ~(eraseUnit_ - 1);  // units are aligned, base included
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(Offset(start)), eraseUnit_, kErased);
    return start;
}

void FlashArray::Fill(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(Offset(address)));
}

namespace {

using Fields = std::span<const std::uint8_t>;

// ReadBlock answer: address echo, the count of data bytes, the data.
std::vector<std::uint8_t> BlockAnswer(std::uint32_t address, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> answer;
    AppendU32(answer, address);
    answer.push_back(static_cast<std::uint8_t>(data.size()));
    answer.insert(answer.end(), data.begin(), data.end());
    return answer;
}

struct WriteRequest {
    std::uint32_t address;
    std::span<const std::uint8_t> data;
};

// Address, length n (at most 128), then exactly n bytes.
std::optional<WriteRequest> ParseWrite(Fields fields) {
    if (fields.size() < 5) return std::nullopt;
    std::size_t length = fields[4];
    if (length > kMaxWriteBlock || fields.size() != 5 + length) return std::nullopt;
    return WriteRequest{GetU32(fields), fields.subspan(5)};
}

std::vector<std::uint8_t> WriteEcho(const WriteRequest& request) {
    std::vector<std::uint8_t> answer;
    AppendU32(answer, request.address);
    answer.push_back(static_cast<std::uint8_t>(request.data.size()));
    return answer;
}

// False when the power went during the write: only its first half reached the flash, and
// there is no answer.
bool Program(SimDevice& device, FlashArray& flash, const WriteRequest& request, const char* name) {
    std::vector<std::uint8_t> data(request.data.begin(), request.data.end());
    switch (device.CountFlashWrite()) {
    case SimDevice::WriteFault::PowerCut:
        flash.Program(request.address, std::span(data).first(data.size() / 2));
        device.Note(std::string(name) + " at " + HexAddress(request.address) + ": power cut, half of it written");
        device.CutPower();
        return false;
    case SimDevice::WriteFault::Corrupt:
        if (!data.empty()) data[0] ^= 0x01;
        device.Note(std::string(name) + " at " + HexAddress(request.address) + ": one byte silently wrong");
        break;
    case SimDevice::WriteFault::None:
        break;
    }
    if (!flash.Program(request.address, data)) {
        device.Note(std::string(name) + " at " + HexAddress(request.address) + " over bytes not erased: kept the AND");
    }
    return true;
}

AnswerData ReadEflash(SimDevice& device, int, Fields fields) {
    if (fields.size() < 5) return std::nullopt;
    std::uint32_t address = GetU32(fields);
    std::size_t length = std::min<std::size_t>(fields[4], kMaxReadBlock);
    if (!device.Eflash().Contains(address, length)) {
        device.Note("EFLASH read outside the chip at " + HexAddress(address) + ": no answer");
        return std::nullopt;
    }
    return BlockAnswer(address, device.Eflash().Read(address, length));
}

AnswerData WriteEflash(SimDevice& device, int, Fields fields) {
    auto request = ParseWrite(fields);
    if (!request || !device.Eflash().Contains(request->address, request->data.size())) return std::nullopt;
    if (!Program(device, device.Eflash(), *request, "EFLASH write")) return std::nullopt;
    return WriteEcho(*request);
}

AnswerData EraseEflashSector(SimDevice& device, int, Fields fields) {
    if (fields.size() < 4 || !device.Eflash().Contains(GetU32(fields), 1)) return std::nullopt;
    device.Eflash().EraseUnitAt(GetU32(fields));
    return std::vector<std::uint8_t>{};
}

// The boot loader writes only the main firmware's part of the flash, never itself, and the
// main firmware does not write the CPU flash at all.
bool CpuFlashWritable(SimDevice& device, std::uint32_t address, std::size_t length, const char* name) {
    if (!device.InBootMode()) {
        device.Note(std::string(name) + ": only the boot loader writes the CPU flash, no answer");
        return false;
    }
    if (address < device.Layout().firmwareStart || !device.CpuFlash().Contains(address, length)) {
        device.Note(std::string(name) + " at " + HexAddress(address) + " outside the main firmware area: no answer");
        return false;
    }
    return true;
}

AnswerData WriteCpuFlash(SimDevice& device, int, Fields fields) {
    auto request = ParseWrite(fields);
    if (!request || !CpuFlashWritable(device, request->address, request->data.size(), "CPU flash write")) {
        return std::nullopt;
    }
    device.MainFirmwareRewritten();
    if (!Program(device, device.CpuFlash(), *request, "CPU flash write")) return std::nullopt;
    return WriteEcho(*request);
}

AnswerData EraseCpuFlashPage(SimDevice& device, int, Fields fields) {
    if (fields.size() < 4 || !CpuFlashWritable(device, GetU32(fields), 1, "CPU flash erase")) return std::nullopt;
    device.CpuFlash().EraseUnitAt(GetU32(fields));
    device.MainAreaErased();
    return std::vector<std::uint8_t>{};
}

}  // namespace

void RegisterFlashCommands(CommandTable& table) {
    table.Register(MakeCode(0x02, 0x02), "ReadEflash", ReadEflash);
    table.Register(MakeCode(0x02, 0x03), "WriteEflash", WriteEflash);
    table.Register(MakeCode(0x02, 0x05), "EraseEflashSector", EraseEflashSector);
    // Which pair the program uses depends on the versions it read; the device takes both.
    table.Register(MakeCode(0x03, 0x03), "WriteCpuFlash", WriteCpuFlash);
    table.Register(MakeCode(0x03, 0x06), "WriteCpuFlash", WriteCpuFlash);
    table.Register(MakeCode(0x03, 0x05), "EraseCpuFlashPage", EraseCpuFlashPage);
    table.Register(MakeCode(0x03, 0x07), "EraseCpuFlashPage", EraseCpuFlashPage);
}

}  // namespace kalvo::devsim
