#pragma once
// The command set of the simulated device. Each area of the device (link, identification,
// memory, parameters, clock, flashes, reset) registers its commands here.
#include "devsim/command_table.h"

namespace kalvo::devsim {

inline constexpr CommandCode kConnectionTest = MakeCode(0x01, 0x00);

// The table kalvo-devsim serves.
CommandTable MakeDeviceCommandTable();

// Link-level commands: the connection test.
void RegisterLinkCommands(CommandTable& table);

}  // namespace kalvo::devsim
