#include "devsim/command_line.h"

#include <cctype>
#include <charconv>
#include <functional>
#include <limits>
#include <map>
#include <type_traits>

namespace kalvo::devsim {

namespace {

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

template <typename T>
std::optional<T> ParseBounded(std::string_view text, std::uint64_t low, std::uint64_t high) {
    auto value = ParseUnsigned(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return static_cast<T>(*value);
}

// Fields given on the command line, applied over the model's defaults at the end so that their
// order does not matter.
struct DeviceOverrides {
    std::optional<std::uint8_t> revision, variant;
    std::optional<std::uint16_t> cpuCode, bootVersion, mainVersion;
    std::optional<std::string> serialNumber;
};

template <typename T>
void Apply(const std::optional<T>& given, T& field) {
    if (given) field = *given;
}

}  // namespace

std::optional<Model> ParseModel(std::string_view text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower == "r630" || lower == "630") return Model::R630;
    if (lower == "r520" || lower == "520") return Model::R520;
    return std::nullopt;
}

std::optional<std::uint16_t> ParseVersion(std::string_view text) {
    if (auto dot = text.find('.'); dot != std::string_view::npos) {
        auto major = ParseBounded<std::uint16_t>(text.substr(0, dot), 0, 255);
        auto minor = ParseBounded<std::uint16_t>(text.substr(dot + 1), 0, 255);
        if (!major || !minor) return std::nullopt;
        return static_cast<std::uint16_t>(*major << 8 | *minor);
    }
    return ParseBounded<std::uint16_t>(text, 0, 0xFFFF);
}

std::optional<std::string> ParseSerialNumber(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 8) return std::nullopt;
    return digits;
}

std::optional<std::uint64_t> ParseSize(std::string_view text) {
    std::uint64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1024;
    if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1024 * 1024;
    if (unit != 1) text.remove_suffix(1);
    auto value = ParseUnsigned(text);
    if (!value || *value > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
    return *value * unit;
}

std::string UsageText() {
    return "usage: kalvo-devsim [options]\n"
           "A simulated dosimeter on a pseudo-terminal. Prints one line when ready:\n"
           "  kalvo-devsim: COM <N> <slave path>   (with --com)\n"
           "  kalvo-devsim: <slave path>           (without)\n"
           "and serves until SIGINT or SIGTERM.\n"
           "\n"
           "  --com N             publish as COM N: link comN in the ports folder\n"
           "                      (KALVO_PORTS_DIR, else the per-user one)\n"
           "  --baud B            pace answers at B baud, 10 bits a byte (default 230400;\n"
           "                      0 = unpaced)\n"
           "  --trace FILE        log requests, answers and events, one line each ('-': stderr)\n"
           "device:\n"
           "  --model r630|r520   family (default r630)\n"
           "  --revision N        board revision (r630: 41, r520: 4)\n"
           "  --variant N         board variant (r630: 0, r520: 1)\n"
           "  --cpu-code N        CPU code of the descriptor (r630: 9, r520: 5)\n"
           "  --boot-version V    boot loader version, as 4.1 (default 4.1)\n"
           "  --main-version V    main firmware version; 0 = boot mode (r630: 1.20, r520: 12.3)\n"
           "  --flash-size S      CPU flash size (r630: 64K, r520: 128K)\n"
           "  --eflash-size S     external flash size (default 8M)\n"
           "  --serial DIGITS     serial number, eight digits as 123-45678 (default 12345678)\n"
           "faults:\n"
           "  --drop-request N    ignore requests N, 2N, 3N...\n"
           "  --flip-bit N        corrupt one bit of answers N, 2N, 3N... on the wire\n"
           "  --delay-ms D        send every answer D ms late\n"
           "  --vanish-after N    after N answers have been taken, close the port and remove\n"
           "                      the link, as if unplugged, and wait to be stopped\n"
           "  --help              this text\n";
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments) {
    ParseOutcome outcome;
    SimConfig config;
    std::optional<Model> model;
    DeviceOverrides overrides;

    // Each option that takes a value: its parser stores the value and says whether it was good.
    using Setter = std::function<bool(std::string_view)>;
    auto bounded = [](auto& target, std::uint64_t low, std::uint64_t high) {
        return Setter([&target, low, high](std::string_view text) {
            using T = typename std::remove_reference_t<decltype(target)>::value_type;
            target = ParseBounded<T>(text, low, high);
            return target.has_value();
        });
    };
    std::optional<int> baud, com;
    std::optional<unsigned> dropEvery, flipEvery, delayMs, vanishAfter;
    std::optional<std::uint64_t> flashSize, eflashSize;
    const std::map<std::string, Setter, std::less<>> valued = {
        {"--com", bounded(com, 1, 100000)},
        {"--baud", bounded(baud, 0, 4000000)},
        {"--trace", [&](std::string_view text) { config.traceFile = text; return !text.empty(); }},
        {"--model", [&](std::string_view text) { return (model = ParseModel(text)).has_value(); }},
        {"--revision", bounded(overrides.revision, 0, 255)},
        {"--variant", bounded(overrides.variant, 0, 255)},
        {"--cpu-code", bounded(overrides.cpuCode, 0, 0xFFFF)},
        {"--boot-version", [&](std::string_view text) { return (overrides.bootVersion = ParseVersion(text)).has_value(); }},
        {"--main-version", [&](std::string_view text) { return (overrides.mainVersion = ParseVersion(text)).has_value(); }},
        {"--flash-size", [&](std::string_view text) { return (flashSize = ParseSize(text)) && *flashSize <= 0xFFFFFFFF; }},
        {"--eflash-size", [&](std::string_view text) { return (eflashSize = ParseSize(text)) && *eflashSize <= 0xFFFFFFFF; }},
        {"--serial", [&](std::string_view text) { return (overrides.serialNumber = ParseSerialNumber(text)).has_value(); }},
        {"--drop-request", bounded(dropEvery, 0, 1000000)},
        {"--flip-bit", bounded(flipEvery, 0, 1000000)},
        {"--delay-ms", bounded(delayMs, 0, 3600000)},
        {"--vanish-after", bounded(vanishAfter, 0, 1000000)},
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            config.help = true;
            continue;
        }
        std::string_view name = argument;
        std::optional<std::string_view> value;
        if (auto equals = argument.find('='); argument.starts_with("--") && equals != std::string_view::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        auto option = valued.find(name);
        if (option == valued.end()) {
            outcome.error = "unknown option: " + std::string(argument);
            return outcome;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                outcome.error = "missing value for " + std::string(name);
                return outcome;
            }
            value = arguments[++i];
        }
        if (!option->second(*value)) {
            outcome.error = "bad value for " + std::string(name) + ": " + std::string(*value);
            return outcome;
        }
    }

    config.device = SimOptions::ForModel(model.value_or(Model::R630));
    Apply(overrides.revision, config.device.revision);
    Apply(overrides.variant, config.device.variant);
    Apply(overrides.cpuCode, config.device.cpuCode);
    Apply(overrides.bootVersion, config.device.bootVersion);
    Apply(overrides.mainVersion, config.device.mainVersion);
    Apply(overrides.serialNumber, config.device.serialNumber);
    if (flashSize) config.device.flashSize = static_cast<std::uint32_t>(*flashSize);
    if (eflashSize) config.device.eflashSize = static_cast<std::uint32_t>(*eflashSize);

    config.com = com;
    Apply(baud, config.baud);
    config.faults.dropRequestEvery = dropEvery.value_or(0);
    config.faults.flipBitEvery = flipEvery.value_or(0);
    config.faults.answerDelay = std::chrono::milliseconds(delayMs.value_or(0));
    config.faults.vanishAfter = vanishAfter;
    outcome.config = std::move(config);
    return outcome;
}

}  // namespace kalvo::devsim
