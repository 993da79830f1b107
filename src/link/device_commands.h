#pragma once
// The device command set: one request/answer exchange per command, on its fixed channel.
// Channel 1: identification, memory, control, clock, parameters, screen texts; channel 2: the
// external flash; channel 3: the CPU flash.
//
// Failure texts are English only. WriteDeviceTime, ReadDeviceTime and WriteParameter always show
// theirs; every other command shows its text only when the caller passes showMessage.
//
// User-interface thread only.
#include <array>
#include <cstdint>
#include <string_view>

#include "link/device_answers.h"
#include "link/device_identity.h"
#include "link/link.h"

namespace kalvo {

class IdentificationCache;

inline constexpr int kMaxWriteBlock = 128;
inline constexpr int kMemoryBlock = 16;
inline constexpr std::uint16_t kResetToBoot = 0x0003;
inline constexpr std::uint16_t kResetToMain = 0x0002;

class DeviceCommands {
public:
    DeviceCommands(Link& link, IdentificationCache& cache) : link_(link), cache_(cache) {}

    // Reads afresh and replaces the cached SoftInfo.
    bool ReadSoftInfo(SoftInfo& out, bool showMessage);
    // One block; bytes copied (possibly fewer than asked) or -1.
    int ReadMemory(std::uint32_t address, std::uint8_t* buffer, int length, bool showMessage);
    int ReadEflash(std::uint32_t address, std::uint8_t* buffer, int length, bool showMessage);
    bool WriteEflash(std::uint32_t address, const std::uint8_t* data, int length, bool showMessage);
    bool EraseEflashSector(std::uint32_t address, bool showMessage);
    bool WriteCpuFlash(std::uint32_t address, const std::uint8_t* data, int length, bool showMessage);
    bool EraseCpuFlashPage(std::uint32_t address, bool showMessage);
    bool ResetDevice(std::uint16_t flags, bool showMessage);
    bool SendPcConnection(std::string_view text, bool showMessage);
    bool SendPcPrint(std::string_view text, bool showMessage);
    // Needs a boot loader of 4.0 or later; fills the cache.
    bool ReadBoardInfo(BoardInfo& out, bool showMessage);
    bool WriteDeviceTime(const TimeRecord& time);
    bool ReadDeviceTime(TimeRecord& time);
    bool ReadParameter(ParameterRecord& record, bool showMessage);
    bool WriteParameter(ParameterRecord& record);

    // Device memory in requests of at most 16 bytes; count or -1 at the first failing block.
    int ReadMemoryBlocks(std::uint32_t address, std::uint8_t* buffer, int count, bool showMessage);
    static std::uint32_t EflashSectorOf(std::uint32_t address);

    // 03 06 / 03 07 instead of 03 03 / 03 05 for the CPU flash.
    bool UsesNewCpuFlashCodes() const;

private:
    bool Request(int channel, const std::uint8_t* request, std::size_t length, std::string_view failureText,
                 bool showMessage);
    // A request that does no harm when it runs twice; its answer repeats `echoLength` request
    // bytes after the code, and carries `answerLength` payload bytes.
    bool RequestRepeatable(int channel, const std::uint8_t* request, std::size_t length, std::size_t echoLength,
                           std::size_t answerLength, std::string_view failureText, bool showMessage);
    int ReadBlock(int channel, std::uint8_t code, std::uint32_t address, std::uint8_t* buffer, int length,
                  std::string_view failureText, bool showMessage);
    bool WriteBlock(int channel, std::uint8_t code0, std::uint8_t code1, std::uint32_t address,
                    const std::uint8_t* data, int length, std::string_view failureText, bool showMessage);
    bool SendScreenText(std::uint8_t code, const std::string& text, std::size_t payloadLength,
                        std::string_view failureText, bool showMessage);

    Link& link_;
    IdentificationCache& cache_;
};

}  // namespace kalvo
