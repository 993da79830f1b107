#pragma once
// What the image writers and the update work with: the device's commands and identification
// cache, the restarts, the connection flags, the report log and the front end.
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "device/device_restart.h"
#include "link/identification.h"
#include "platform/log_sink.h"
#include "platform/stop_request.h"
#include "platform/tick_clock.h"
#include "platform/ui_port.h"

namespace kalvo {

struct FirmwareTools {
    DeviceCommands& commands;
    IdentificationCache& cache;
    DeviceRestart& restart;
    ConnectionWatch& connection;
    LogSink& log;
    UiPort& ui;
    // Times the progress reports; tests turn it by hand.
    std::function<std::uint64_t()> clock = TickCount;
    // A termination signal's request: the writers stop between two chunks.
    const StopRequest* stop = nullptr;
};

// A write's progress text takes the place of the last line, in the log and in its view alike.
inline void ReplaceProgressLine(FirmwareTools& tools, const std::string& text) {
    tools.log.ReplaceLastLine(text);
    tools.ui.ReplaceLastLogLine(text);
}

// "A=0x" addresses of the log, upper-case hexadecimal with at least `digits` digits.
std::string HexAddress(std::uint32_t address, int digits);

// Reads back [start, start + expected.size()) with `read` in blocks of `block` bytes and
// compares; logs the first difference (or failed read) as an error line and one result line
// with the time taken. True when everything matched; false too when a stop was asked for
// (between two blocks: a read-back of a whole data image takes about a minute).
// `read` is ReadMemory or ReadEflash: bytes copied or -1.
using BlockReader = std::function<int(std::uint32_t address, std::uint8_t* buffer, int length)>;
bool VerifyWritten(LogSink& log, std::string_view what, std::uint32_t start, std::span<const std::uint8_t> expected,
                   int block, const BlockReader& read, const StopRequest* stop = nullptr);

}  // namespace kalvo
