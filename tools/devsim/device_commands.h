#pragma once
// The command set of the simulated device. Each area of the device registers its commands
// from its own file; MakeDeviceCommandTable() puts them all together.
#include <cstddef>
#include <cstdint>

#include "devsim/command_table.h"

namespace kalvo::devsim {

inline constexpr CommandCode kConnectionTest = MakeCode(0x01, 0x00);
inline constexpr CommandCode kResetDevice = MakeCode(0x01, 0x05);

// Data bytes of a ReadBlock answer that still fit one frame (249 payload bytes, less code,
// address and count).
inline constexpr std::size_t kMaxReadBlock = 242;
inline constexpr std::size_t kMaxWriteBlock = 128;
// Boot loaders from 4.0 on answer ReadBoardInfo.
inline constexpr std::uint16_t kBoardInfoBootVersion = 0x0400;

// The table kalvo-devsim serves.
CommandTable MakeDeviceCommandTable();

void RegisterLinkCommands(CommandTable& table);       // 01 00 (device_commands.cpp)
void RegisterIdentityCommands(CommandTable& table);   // 01 01, 01 02, 01 0A (identity_memory.cpp)
void RegisterControlCommands(CommandTable& table);    // 01 05, 01 06, 01 07 (device_control.cpp)
void RegisterClockCommands(CommandTable& table);      // 01 0B, 01 0C (device_clock.cpp)
void RegisterParameterCommands(CommandTable& table);  // 01 0E, 01 0F (parameters.cpp)
void RegisterFlashCommands(CommandTable& table);      // 02 02/03/05, 03 03/05/06/07 (flash_memory.cpp)

}  // namespace kalvo::devsim
