#pragma once
// kalvo-devsim's command line, parsed into one configuration. Kept apart from main() so that
// the tests parse the same way.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devsim/device_dumps.h"
#include "devsim/device_model.h"
#include "devsim/fault_injector.h"

namespace kalvo::devsim {

struct SimConfig {
    SimOptions device;
    std::optional<int> com;
    int baud = 230400;
    std::string traceFile;
    std::string screenLog;
    DumpFiles dumps;
    std::chrono::milliseconds resetDowntime{1500};
    bool exactLine = false;
    FaultOptions faults;
    bool help = false;
    bool version = false;
};

struct ParseOutcome {
    std::optional<SimConfig> config;  // nothing: error says why
    std::string error;
};

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments);
std::string UsageText();

std::optional<Model> ParseModel(std::string_view text);
// "4.1" -> 0x0401; plain numbers too ("0", "1025", "0x0401").
std::optional<std::uint16_t> ParseVersion(std::string_view text);
// Eight hex digits; dashes are dropped ("123-45678"). Returns them upper-case.
std::optional<std::string> ParseSerialNumber(std::string_view text);
// Decimal or 0x hex, with an optional K or M suffix (powers of 1024).
std::optional<std::uint64_t> ParseSize(std::string_view text);
// 0 to 100, fractions allowed ("2.5").
std::optional<double> ParsePercent(std::string_view text);
// "ID=VALUE", each decimal or 0x hex: "7=20", "0xC021=0x00FF0100".
std::optional<std::pair<std::uint16_t, std::uint32_t>> ParseParameterPreset(std::string_view text);

}  // namespace kalvo::devsim
