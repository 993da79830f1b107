#include "devsim/device_commands.h"

namespace kalvo::devsim {

namespace {

// The program checks the echo byte for byte, so it goes back untouched, whatever its length.
AnswerData ConnectionTest(SimDevice&, int, std::span<const std::uint8_t> fields) {
    return std::vector<std::uint8_t>(fields.begin(), fields.end());
}

}  // namespace

void RegisterLinkCommands(CommandTable& table) {
    table.Register(kConnectionTest, "ConnectionTest", ConnectionTest);
}

CommandTable MakeDeviceCommandTable() {
    CommandTable table;
    RegisterLinkCommands(table);
    RegisterIdentityCommands(table);
    RegisterControlCommands(table);
    RegisterClockCommands(table);
    RegisterParameterCommands(table);
    RegisterFlashCommands(table);
    return table;
}

}  // namespace kalvo::devsim
