#include "link/device_commands.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "link/identification.h"

namespace kalvo {

namespace {

constexpr int kChannelControl = 1;
constexpr int kChannelEflash = 2;
constexpr int kChannelCpuFlash = 3;
// An answer frame carries at most 249 payload bytes: code, address, one byte, data.
constexpr int kMaxReadBlock = 242;
constexpr std::size_t kPcConnectionText = 13;
constexpr std::size_t kPcPrintText = 125;

void PutU32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool DeviceCommands::Request(int channel, const std::uint8_t* request, std::size_t length,
                             std::string_view failureText, bool showMessage) {
    LinkChannel* target = link_.Channel(channel);
    if (!target) return false;
    return link_.Transact(target, request, length, true, showMessage ? failureText : "");
}

bool DeviceCommands::RequestRepeatable(int channel, const std::uint8_t* request, std::size_t length,
                                       std::size_t echoLength, std::size_t answerLength,
                                       std::string_view failureText, bool showMessage) {
    LinkChannel* target = link_.Channel(channel);
    if (!target) return false;
    return link_.TransactRepeatable(target, request, length, echoLength, answerLength, showMessage ? failureText : "");
}

bool DeviceCommands::ReadSoftInfo(SoftInfo& out, bool showMessage) {
    const std::uint8_t request[] = {0x01, 0x01};
    if (!Request(kChannelControl, request, sizeof request, "No answer in reading information about Programm",
                 showMessage))
        return false;
    LinkChannel* channel = link_.Channel(kChannelControl);
    std::optional<SoftInfo> info = DecodeSoftInfoAnswer(link_.AnswerData(channel), link_.AnswerLength(channel));
    if (!info) return false;
    out = *info;
    cache_.StoreSoftInfo(out);
    return true;
}

int DeviceCommands::ReadBlock(int channel, std::uint8_t code, std::uint32_t address, std::uint8_t* buffer,
                              int length, std::string_view failureText, bool showMessage) {
    if (!buffer || length < 1 || length > kMaxReadBlock) return -1;
    // The first code byte of a block read is its channel number: 01 02 memory, 02 02 EFLASH.
    std::uint8_t request[7] = {static_cast<std::uint8_t>(channel), code};
    PutU32(request + 2, address);
    request[6] = static_cast<std::uint8_t>(length);
    LinkChannel* target = link_.Channel(channel);
    // The answer repeats the address: code, address, length byte, data.
    if (!target || !link_.TransactRead(target, request, sizeof request, 4, 5 + static_cast<std::size_t>(length) + 2,
                                       showMessage ? failureText : ""))
        return -1;
    return DecodeBlockReadAnswer(link_.AnswerData(target), link_.AnswerLength(target), address, length, buffer);
}

int DeviceCommands::ReadMemory(std::uint32_t address, std::uint8_t* buffer, int length, bool showMessage) {
    return ReadBlock(kChannelControl, 0x02, address, buffer, length, "No answer in Reading", showMessage);
}

int DeviceCommands::ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length, bool showMessage) {
    return ReadBlock(kChannelEflash, 0x02, address, buffer, length, "No answer in reading EFLASH", showMessage);
}

bool DeviceCommands::WriteBlock(int channel, std::uint8_t code0, std::uint8_t code1, std::uint32_t address,
                                const std::uint8_t* data, int length, std::string_view failureText,
                                bool showMessage) {
    if (!data || length < 0 || length > kMaxWriteBlock) return false;
    std::uint8_t request[7 + kMaxWriteBlock] = {code0, code1};
    PutU32(request + 2, address);
    request[6] = static_cast<std::uint8_t>(length);
    std::memcpy(request + 7, data, static_cast<std::size_t>(length));
    // The same bytes written again to the same place leave the flash as it was. The answer
    // repeats address and length, which tells it from a late answer to the write before.
    if (!RequestRepeatable(channel, request, 7 + static_cast<std::size_t>(length), 5, 2 + 5, failureText,
                           showMessage))
        return false;
    LinkChannel* target = link_.Channel(channel);
    return BlockWriteAnswerMatches(link_.AnswerData(target), link_.AnswerLength(target), address, request[6]);
}

bool DeviceCommands::WriteEflash(std::uint32_t address, const std::uint8_t* data, int length, bool showMessage) {
    return WriteBlock(kChannelEflash, 0x02, 0x03, address, data, length, "No answer in EFLASH Write", showMessage);
}

bool DeviceCommands::EraseEflashSector(std::uint32_t address, bool showMessage) {
    std::uint8_t request[6] = {0x02, 0x05};
    PutU32(request + 2, address);
    // Erased again before anything was written there, a sector stays erased. Its answer names no
    // address, but a late one cannot be taken for the next erase's: a write of the sector is always
    // answered in between, and the device answers in order.
    return RequestRepeatable(kChannelEflash, request, sizeof request, 0, 2, "No Answer in Erasing EFLASH sector 4K",
                             showMessage);
}

bool DeviceCommands::UsesNewCpuFlashCodes() const {
    std::optional<SoftInfo> info = cache_.KnownSoftInfo();
    return info && info->mainVersion != 0 && info->bootVersion >= 0x0200 && (info->bootVersion >> 8) != 5;
}

bool DeviceCommands::WriteCpuFlash(std::uint32_t address, const std::uint8_t* data, int length, bool showMessage) {
    std::uint8_t code = UsesNewCpuFlashCodes() ? 0x06 : 0x03;
    return WriteBlock(kChannelCpuFlash, 0x03, code, address, data, length, "No answer in Flash of CPU Writing",
                      showMessage);
}

bool DeviceCommands::EraseCpuFlashPage(std::uint32_t address, bool showMessage) {
    std::uint8_t request[6] = {0x03, static_cast<std::uint8_t>(UsesNewCpuFlashCodes() ? 0x07 : 0x05)};
    PutU32(request + 2, address);
    // As an external-flash sector: harmless to repeat before the page is written.
    return RequestRepeatable(kChannelCpuFlash, request, sizeof request, 0, 2,
                             "No answer in Erasing Sector of CPU Flash", showMessage);
}

bool DeviceCommands::ResetDevice(std::uint16_t flags, bool showMessage) {
    const std::uint8_t request[] = {0x01, 0x05, static_cast<std::uint8_t>(flags & 0xFF),
                                    static_cast<std::uint8_t>(flags >> 8), 0x00, 0x00, 0x0A};
    return Request(kChannelControl, request, sizeof request, "No answer - RESET", showMessage);
}

bool DeviceCommands::SendScreenText(std::uint8_t code, const std::string& text, std::size_t payloadLength,
                                    std::string_view failureText, bool showMessage) {
    std::uint8_t request[2 + kPcPrintText + 1] = {0x01, code};
    std::memcpy(request + 2, text.data(), text.size());
    return Request(kChannelControl, request, payloadLength, failureText, showMessage);
}

bool DeviceCommands::SendPcConnection(std::string_view text, bool showMessage) {
    if (!cache_.EnsureCpuDescriptor(true)) return false;
    std::optional<SoftInfo> info = cache_.KnownSoftInfo();
    if (!info || info->InBootMode()) return false;
    std::string cut(text.substr(0, std::min(text.size(), kPcConnectionText)));
    // Always 16 payload bytes: the text, its NUL and zero padding.
    return SendScreenText(0x06, cut, 16, "No answer form Device : PC_CONNECTION [" + cut + "]", showMessage);
}

bool DeviceCommands::SendPcPrint(std::string_view text, bool showMessage) {
    if (!cache_.EnsureCpuDescriptor(true)) return false;
    std::optional<SoftInfo> info = cache_.KnownSoftInfo();
    if (!info || (info->InBootMode() && info->bootVersion <= 511)) return false;
    std::string cut(text.substr(0, std::min(text.size(), kPcPrintText)));
    return SendScreenText(0x07, cut, 2 + cut.size() + 1, "No answer from Device : PC_PRINT [" + cut + "]",
                          showMessage);
}

bool DeviceCommands::ReadBoardInfo(BoardInfo& out, bool showMessage) {
    out = BoardInfo{};
    cache_.ForgetBoardInfo();
    if (!cache_.EnsureCpuDescriptor(true)) return false;
    std::optional<SoftInfo> info = cache_.KnownSoftInfo();
    if (!info || info->bootVersion < kBoardInfoBootVersion || !link_.Channel(kChannelControl)) return false;
    const std::uint8_t request[] = {0x01, 0x0A};
    if (!Request(kChannelControl, request, sizeof request, "No answer in reading Board Information", showMessage))
        return false;
    LinkChannel* channel = link_.Channel(kChannelControl);
    std::optional<BoardInfo> board = DecodeBoardInfoAnswer(link_.AnswerData(channel), link_.AnswerLength(channel));
    if (!board) return false;
    out = *board;
    cache_.StoreBoardInfo(out);
    return true;
}

bool DeviceCommands::WriteDeviceTime(const TimeRecord& time) {
    if (!cache_.ClockAllowed()) return false;
    std::uint8_t request[2 + 7] = {0x01, 0x0B};
    std::copy(time.begin(), time.end(), request + 2);
    return Request(kChannelControl, request, sizeof request, "No answer - TIME WRITE", true);
}

bool DeviceCommands::ReadDeviceTime(TimeRecord& time) {
    if (!cache_.ClockAllowed()) return false;
    const std::uint8_t request[] = {0x01, 0x0C};
    if (!Request(kChannelControl, request, sizeof request, "No answer - TIME READ", true)) return false;
    LinkChannel* channel = link_.Channel(kChannelControl);
    std::optional<TimeRecord> answer = DecodeTimeAnswer(link_.AnswerData(channel), link_.AnswerLength(channel));
    if (!answer) return false;
    time = *answer;
    return true;
}

bool DeviceCommands::ReadParameter(ParameterRecord& record, bool showMessage) {
    record.value.fill(0);
    record.further.fill(0);
    const std::uint8_t request[] = {0x01, 0x0E, static_cast<std::uint8_t>(record.id & 0xFF),
                                    static_cast<std::uint8_t>(record.id >> 8)};
    LinkChannel* channel = link_.Channel(kChannelControl);
    // The answer repeats the parameter number; 22 bytes at most.
    if (!channel || !link_.TransactRead(channel, request, sizeof request, 2, 2 + 22,
                                        showMessage ? "No answer - Parameter READ" : ""))
        return false;
    return DecodeParameterAnswer(link_.AnswerData(channel), link_.AnswerLength(channel), record);
}

bool DeviceCommands::WriteParameter(ParameterRecord& record) {
    std::uint8_t request[8] = {0x01, 0x0F, static_cast<std::uint8_t>(record.id & 0xFF),
                               static_cast<std::uint8_t>(record.id >> 8)};
    std::copy(record.value.begin(), record.value.end(), request + 4);
    // A setting written twice with one value holds that value; an action of the command
    // parameter must not run twice, so it waits the fixed time. A setting's answer repeats its id.
    const bool answered = record.id == kCommandParameterId
                              ? Request(kChannelControl, request, sizeof request, "No answer - Parameter WRITE", true)
                              : RequestRepeatable(kChannelControl, request, sizeof request, 2, 2 + 6,
                                                  "No answer - Parameter WRITE", true);
    if (!answered) return false;
    LinkChannel* channel = link_.Channel(kChannelControl);
    return DecodeParameterWriteAnswer(link_.AnswerData(channel), link_.AnswerLength(channel), record);
}

int DeviceCommands::ReadMemoryBlocks(std::uint32_t address, std::uint8_t* buffer, int count, bool showMessage) {
    if (!buffer || count < 0) return -1;
    int done = 0;
    while (done < count) {
        int block = std::min(kMemoryBlock, count - done);
        // A short answer counts as a failure here: the caller asked for exactly `count` bytes.
        if (ReadMemory(address + static_cast<std::uint32_t>(done), buffer + done, block, showMessage) != block)
            return -1;
        done += block;
    }
    return count;
}

std::uint32_t DeviceCommands::EflashSectorOf(std::uint32_t address) {
    return address < 0x00800000 ? address >> 12 : 2047;
}

}  // namespace kalvo
