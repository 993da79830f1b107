// Verified writing: the written range read back and compared, beyond the plain update.
#include <cstdio>
#include <vector>

#include "firmware/firmware_tools.h"
#include "platform/tick_clock.h"

namespace kalvo {

std::string HexAddress(std::uint32_t address, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, address);
    return text;
}

bool VerifyWritten(LogSink& log, std::string_view what, std::uint32_t start, std::span<const std::uint8_t> expected,
                   int block, const BlockReader& read, const StopRequest* stop) {
    const std::uint64_t began = TickCount();
    // External-flash addresses in six digits as the write errors have them, CPU ones in eight.
    const int digits = start >= 0x01000000 ? 8 : 6;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(block));
    bool matched = true;
    bool stopped = false;
    for (std::size_t done = 0; done < expected.size();) {
        if (StopRequested(stop)) {
            matched = false;
            stopped = true;
            break;
        }
        const int length = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(block), expected.size() - done));
        const std::uint32_t address = start + static_cast<std::uint32_t>(done);
        if (read(address, buffer.data(), length) != length) {
            log.LogError("VERIFY " + std::string(what) + ": no data at A=0x" + HexAddress(address, digits));
            matched = false;
            break;
        }
        std::size_t i = 0;
        while (i < static_cast<std::size_t>(length) && buffer[i] == expected[done + i]) ++i;
        if (i < static_cast<std::size_t>(length)) {
            log.LogError("VERIFY " + std::string(what) + ": difference at A=0x" +
                         HexAddress(address + static_cast<std::uint32_t>(i), digits));
            matched = false;
            break;
        }
        done += static_cast<std::size_t>(length);
    }
    log.LogLine("# VERIFY " + std::string(what) + ": " +
                (matched   ? "OK " + std::to_string(expected.size()) + " bytes, "
                 : stopped ? std::string("STOPPED, ")
                           : std::string("FAILED, ")) +
                std::to_string(TickCount() - began) + " ms");
    return matched;
}

}  // namespace kalvo
