// ResetDevice (01 05) and the screen texts SendPcConnection (01 06) and SendPcPrint (01 07).
#include "devsim/device_control.h"

#include <cstdio>

#include "devsim/byte_io.h"
#include "devsim/device_commands.h"
#include "devsim/device_model.h"

namespace kalvo::devsim {

namespace {

// A long firmware write sends hundreds of texts; the oldest go once this many are kept.
constexpr std::size_t kKeptLines = 10000;

}  // namespace

void ScreenLog::Record(std::string_view kind, const std::string& text) {
    std::string line = std::string(kind) + " " + text;
    file_.Line(line);
    if (lines_.size() == kKeptLines) lines_.erase(lines_.begin());
    lines_.push_back(std::move(line));
}

std::string ScreenText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (std::uint8_t byte : bytes) {
        if (byte == 0) break;
        if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            text += escaped;
        }
    }
    return text;
}

namespace {

using Fields = std::span<const std::uint8_t>;

// Flags bit 0: 1 the boot loader, 0 the main firmware. The answer goes out first; the
// simulator then takes the line down for the restart.
AnswerData ResetDevice(SimDevice& device, int, Fields fields) {
    if (fields.size() < 2) return std::nullopt;
    bool toBoot = (GetU16(fields) & 1) != 0;
    device.RequestReset(toBoot);
    device.Note(std::string("reset into the ") + (toBoot ? "boot loader" : "main firmware") + " asked, flags " +
                HexAddress(GetU16(fields)));
    return std::vector<std::uint8_t>{};
}

// Only the main firmware draws the PC-connection page.
AnswerData SendPcConnection(SimDevice& device, int, Fields fields) {
    if (device.InBootMode()) {
        device.Note("SendPcConnection: not in the boot loader, no answer");
        return std::nullopt;
    }
    std::string text = ScreenText(fields);
    device.Screen().Record("PC_CONNECTION", text);
    device.Note("screen: PC connection \"" + text + "\"");
    return std::vector<std::uint8_t>{};
}

AnswerData SendPcPrint(SimDevice& device, int, Fields fields) {
    std::string text = ScreenText(fields);
    device.Screen().Record("PC_PRINT", text);
    device.Note("screen: \"" + text + "\"");
    return std::vector<std::uint8_t>{};
}

}  // namespace

void RegisterControlCommands(CommandTable& table) {
    table.Register(MakeCode(0x01, 0x05), "ResetDevice", ResetDevice);
    table.Register(MakeCode(0x01, 0x06), "SendPcConnection", SendPcConnection);
    table.Register(MakeCode(0x01, 0x07), "SendPcPrint", SendPcPrint);
}

}  // namespace kalvo::devsim
