#include "devsim/command_line.h"

#include <cctype>
#include <charconv>
#include <functional>
#include <limits>
#include <map>
#include <type_traits>

#include "devsim/device_clock.h"

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
    std::optional<std::uint8_t> revision, variant, boardType, boardNumber;
    std::optional<std::uint16_t> cpuCode, bootVersion, mainVersion;
    std::optional<std::string> serialNumber;
    std::optional<std::array<std::uint8_t, 2>> boardY;
};

// "A:B", two bytes.
std::optional<std::array<std::uint8_t, 2>> ParseBoardY(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto a = ParseBounded<std::uint8_t>(text.substr(0, colon), 0, 255);
    auto b = ParseBounded<std::uint8_t>(text.substr(colon + 1), 0, 255);
    if (!a || !b) return std::nullopt;
    return std::array<std::uint8_t, 2>{*a, *b};
}

// "010F00FF": the leading bytes of a request payload, in hex.
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + i + 2) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

// "N:D": answer N sent D ms late.
std::optional<std::pair<unsigned, std::chrono::milliseconds>> ParseLateAnswer(std::string_view text) {
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    auto number = ParseBounded<unsigned>(text.substr(0, colon), 1, 1000000000);
    auto delay = ParseBounded<unsigned>(text.substr(colon + 1), 0, 3600000);
    if (!number || !delay) return std::nullopt;
    return std::pair{*number, std::chrono::milliseconds(*delay)};
}

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

std::optional<double> ParsePercent(std::string_view text) {
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || !(value >= 0 && value <= 100)) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::pair<std::uint16_t, std::uint32_t>> ParseParameterPreset(std::string_view text) {
    auto equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    auto id = ParseBounded<std::uint16_t>(text.substr(0, equals), 0, 0xFFFF);
    auto value = ParseBounded<std::uint32_t>(text.substr(equals + 1), 0, 0xFFFFFFFF);
    if (!id || !value) return std::nullopt;
    return std::pair{*id, *value};
}

// "010C" (a command) or "010E:16" (a parameter command, one id; decimal or 0x).
// "CODE[:ID]": the two code bytes, and for a parameter command the parameter id (decimal) as
// it follows them on the wire.
std::optional<std::vector<std::uint8_t>> ParseDeaf(std::string_view text) {
    auto colon = text.find(':');
    std::string_view code = text.substr(0, colon);
    if (code.size() != 4) return std::nullopt;
    auto value = ParseBounded<std::uint16_t>("0x" + std::string(code), 0, 0xFFFF);
    if (!value) return std::nullopt;
    std::vector<std::uint8_t> prefix{static_cast<std::uint8_t>(*value >> 8), static_cast<std::uint8_t>(*value & 0xFF)};
    if (colon != std::string_view::npos) {
        auto parameter = ParseBounded<std::uint16_t>(text.substr(colon + 1), 0, 0xFFFF);
        if (!parameter) return std::nullopt;
        prefix.push_back(static_cast<std::uint8_t>(*parameter & 0xFF));
        prefix.push_back(static_cast<std::uint8_t>(*parameter >> 8));
    }
    return prefix;
}

std::string UsageText() {
    return "Usage: kalvo-devsim [OPTION]...\n"
           "A simulated R630 or R520 dosimeter on a pseudo-terminal. Prints one line when ready,\n"
           "and again each time it comes back from a restart:\n"
           "  kalvo-devsim: COM <N> <slave path>   (with --com)\n"
           "  kalvo-devsim: <slave path>           (without)\n"
           "and serves until SIGINT or SIGTERM. SIGUSR1 writes the dump files now.\n"
           "\n"
           "  --com N             publish as COM N (1..250): link comN in the ports folder\n"
           "                      (KALVO_PORTS_DIR, else the per-user one)\n"
           "  --baud B            pace answers at B baud, 10 bits a byte (default 230400;\n"
           "                      0 = unpaced)\n"
           "  --exact-line        requests take their line time too before they are answered,\n"
           "                      and answers arrive as their last bytes would: an exchange\n"
           "                      takes exactly its time on a real line\n"
           "  --trace FILE        log requests, answers and events, one line each ('-': stderr)\n"
           "  --screen-log FILE   log the texts the PC puts on the device screen\n"
           "  --reset-downtime-ms D  port gone for D ms after a reset (default 1500)\n"
           "device:\n"
           "  --model r630|r520   family (default r630)\n"
           "  --revision N        board revision (r630: 41, r520: 4)\n"
           "  --variant N         board variant (r630: 0, r520: 1)\n"
           "  --cpu-code N        CPU code of the descriptor (r630: 9, r520: 5)\n"
           "  --boot-version V    boot loader version, as 4.1 (default 4.1)\n"
           "  --main-version V    main firmware version; 0 = boot mode (r630: 12.9, r520: 12.3)\n"
           "  --flash-size S      CPU flash size (r630: 64K, r520: 128K)\n"
           "  --firmware-start A  first address of the main firmware (r630 0x08002000,\n"
           "                      r520 0x08003400)\n"
           "  --eflash-size S     external flash size, 2M or more (default 8M)\n"
           "  --serial DIGITS     serial number, eight digits as 123-45678 (default 12345678)\n"
           "  --board-type N      INF_1 board type (r630: 6, r520: 4)\n"
           "  --board-number N    INF_1 board number (default: the revision)\n"
           "  --board-y A:B       INF_1 board-Y numbers (default 0:0)\n"
           "  --uid HEX           unique identifier, 24 hex digits (default: from the serial)\n"
           "  --seed N            seed of history, live values and chance faults (default 1)\n"
           "  --history KIND      empty|short|full|wrapped|overfull (default short)\n"
           "  --clock TIME        device clock at start, \"YYYY-MM-DD hh:mm:ss\" (default: now)\n"
           "  --param ID=VALUE    start with this parameter value (repeatable)\n"
           "  --append-at-exchange-end N\n"
           "                      after every exchange end the writer adds N records of 60 s\n"
           "                      and the clock moves past them (the ring advances, wraps)\n"
           "  --dump-eflash FILE, --dump-cpuflash FILE, --dump-history FILE\n"
           "                      write the memory at exit (and on SIGUSR1)\n"
           "faults:\n"
           "  --drop-request N    ignore requests N, 2N, 3N...\n"
           "  --flip-bit N        corrupt one bit of answers N, 2N, 3N... on the wire\n"
           "  --drop-percent P    ignore each request with chance P %\n"
           "  --corrupt-percent P corrupt each answer with chance P %\n"
           "  --chance-window N:M the two chances apply to requests N..M only (and their\n"
           "                      answers); M 0 = to the end\n"
           "  --delay-ms D        send every answer D ms late\n"
           "  --vanish-after N    after N answers have been taken, close the port and remove\n"
           "                      the link, as if unplugged, and wait to be stopped\n"
           "  --ignore-request HEX  never answer requests whose payload starts with these\n"
           "                      bytes, e.g. 010F00FF1200BAC0 (the history erase; repeatable)\n"
           "  --late-answer N:D   send answer N (counted from 1) D ms late (repeatable)\n"
           "  --power-cut-at-write N  the power goes during flash write N (CPU and external\n"
           "                      flash writes counted together from 1): half of it lands, no\n"
           "                      answer, back after the reset downtime in what the flash allows\n"
           "  --corrupt-write N   flash write N keeps one wrong byte and is answered as fine\n"
           "  --no-return-at-reset N  ResetDevice N (from 1) takes the device away for good\n"
           "  --keep-param ID=VALUE  a write of setting ID keeps VALUE instead (within its\n"
           "                      range) and answers it (repeatable)\n"
           "  --deaf-to CODE[:ID] never answer this command (4 hex digits, 010C), or for\n"
           "                      010E/010F only this parameter id (repeatable)\n"
           "  -h, --help          display this help and exit\n"
           "      --version       output version information and exit\n";
}

ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments) {
    ParseOutcome outcome;
    SimConfig config;
    std::optional<Model> model;
    DeviceOverrides overrides;
    SimOptions extras;  // device fields without a model default

    // Each option that takes a value: its parser stores the value and says whether it was good.
    using Setter = std::function<bool(std::string_view)>;
    auto bounded = [](auto& target, std::uint64_t low, std::uint64_t high) {
        return Setter([&target, low, high](std::string_view text) {
            using T = typename std::remove_reference_t<decltype(target)>::value_type;
            target = ParseBounded<T>(text, low, high);
            return target.has_value();
        });
    };
    auto text = [](std::string& target) {
        return Setter([&target](std::string_view value) { target = value; return !value.empty(); });
    };
    auto parsed = [](auto& target, auto parser) {
        return Setter([&target, parser](std::string_view value) { return (target = parser(value)).has_value(); });
    };
    std::optional<int> baud, com;
    std::optional<unsigned> dropEvery, flipEvery, delayMs, vanishAfter, downtimeMs;
    std::optional<std::uint64_t> flashSize, eflashSize, seed;
    std::optional<double> dropPercent, corruptPercent;
    std::optional<HistoryKind> history;
    std::pair<unsigned, unsigned> chanceWindow{0, 0};
    const std::map<std::string, Setter, std::less<>> valued = {
        {"--com", bounded(com, 1, 250)},
        {"--baud", bounded(baud, 0, 4000000)},
        {"--trace", text(config.traceFile)},
        {"--screen-log", text(config.screenLog)},
        {"--reset-downtime-ms", bounded(downtimeMs, 0, 600000)},
        {"--model", parsed(model, ParseModel)},
        {"--revision", bounded(overrides.revision, 0, 255)},
        {"--variant", bounded(overrides.variant, 0, 255)},
        {"--cpu-code", bounded(overrides.cpuCode, 0, 0xFFFF)},
        {"--boot-version", parsed(overrides.bootVersion, ParseVersion)},
        {"--main-version", parsed(overrides.mainVersion, ParseVersion)},
        {"--flash-size", [&](std::string_view v) { return (flashSize = ParseSize(v)) && *flashSize <= 0xFFFFFFFF; }},
        {"--eflash-size", [&](std::string_view v) {
             // The history ring ends just below 2 MB; the chip erases in 4 KB sectors.
             return (eflashSize = ParseSize(v)) && *eflashSize >= 0x200000 && *eflashSize <= 0xFFFFF000 &&
                    *eflashSize % 4096 == 0;
         }},
        {"--serial", parsed(overrides.serialNumber, ParseSerialNumber)},
        {"--board-type", bounded(overrides.boardType, 0, 255)},
        {"--board-number", bounded(overrides.boardNumber, 0, 255)},
        {"--board-y", parsed(overrides.boardY, ParseBoardY)},
        {"--uid", [&](std::string_view v) { return (extras.uid = ParseUid(std::string(v))).has_value(); }},
        {"--seed", bounded(seed, 0, UINT64_MAX)},
        {"--history", parsed(history, ParseHistoryKind)},
        {"--clock", parsed(extras.clock, ParseClockText)},
        {"--param", [&](std::string_view v) {
             auto preset = ParseParameterPreset(v);
             if (preset) extras.parameters.push_back(*preset);
             return preset.has_value();
         }},
        {"--keep-param", [&](std::string_view v) {
             auto kept = ParseParameterPreset(v);
             if (kept) extras.keptParameters.push_back(*kept);
             return kept.has_value();
         }},
        {"--dump-eflash", text(config.dumps.eflash)},
        {"--dump-cpuflash", text(config.dumps.cpuFlash)},
        {"--dump-history", text(config.dumps.history)},
        {"--drop-request", bounded(dropEvery, 0, 1000000)},
        {"--flip-bit", bounded(flipEvery, 0, 1000000)},
        {"--drop-percent", parsed(dropPercent, ParsePercent)},
        {"--corrupt-percent", parsed(corruptPercent, ParsePercent)},
        {"--delay-ms", bounded(delayMs, 0, 3600000)},
        {"--vanish-after", bounded(vanishAfter, 0, 1000000)},
        {"--ignore-request", [&](std::string_view v) {
             auto prefix = ParseHexBytes(v);
             if (prefix) config.faults.ignoredRequests.push_back(*prefix);
             return prefix.has_value();
         }},
        {"--late-answer", [&](std::string_view v) {
             auto late = ParseLateAnswer(v);
             if (late) config.faults.lateAnswers.push_back(*late);
             return late.has_value();
         }},
        {"--chance-window", [&](std::string_view v) {
             auto colon = v.find(':');
             if (colon == std::string_view::npos) return false;
             auto first = ParseBounded<unsigned>(v.substr(0, colon), 1, 100000000);
             auto last = ParseBounded<unsigned>(v.substr(colon + 1), 0, 100000000);
             if (!first || !last || (*last != 0 && *last < *first)) return false;
             chanceWindow = {*first, *last};
             return true;
         }},
        {"--deaf-to", [&](std::string_view v) {
             auto deaf = ParseDeaf(v);
             if (deaf) config.faults.ignoredRequests.push_back(*deaf);
             return deaf.has_value();
         }},
        {"--power-cut-at-write", bounded(extras.powerCutAtWrite, 1, 100000000)},
        {"--append-at-exchange-end", bounded(extras.appendAtExchangeEnd, 1, 200000)},
        {"--corrupt-write", bounded(extras.corruptWrite, 1, 100000000)},
        {"--no-return-at-reset", bounded(extras.noReturnAtReset, 1, 1000000)},
        {"--firmware-start", [&](std::string_view v) {
             auto size = ParseSize(v);
             if (size && *size > 0x08000000 && *size < 0x09000000) extras.firmwareStart = static_cast<std::uint32_t>(*size);
             return size && extras.firmwareStart.has_value();
         }},
    };

    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            config.help = true;
            continue;
        }
        if (argument == "--exact-line") {
            config.exactLine = true;
            continue;
        }
        if (argument == "--version") {
            config.version = true;
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

    SimOptions& device = config.device;
    device = SimOptions::ForModel(model.value_or(Model::R630));
    Apply(overrides.revision, device.revision);
    Apply(overrides.variant, device.variant);
    Apply(overrides.cpuCode, device.cpuCode);
    Apply(overrides.bootVersion, device.bootVersion);
    Apply(overrides.mainVersion, device.mainVersion);
    Apply(overrides.serialNumber, device.serialNumber);
    Apply(overrides.boardType, device.boardType);
    device.boardNumber = overrides.boardNumber.value_or(device.revision);
    Apply(overrides.boardY, device.boardY);
    if (flashSize) device.flashSize = static_cast<std::uint32_t>(*flashSize);
    if (eflashSize) device.eflashSize = static_cast<std::uint32_t>(*eflashSize);
    device.uid = extras.uid;
    device.clock = extras.clock;
    device.parameters = extras.parameters;
    device.keptParameters = extras.keptParameters;
    device.firmwareStart = extras.firmwareStart;
    device.powerCutAtWrite = extras.powerCutAtWrite;
    device.corruptWrite = extras.corruptWrite;
    device.noReturnAtReset = extras.noReturnAtReset;
    device.appendAtExchangeEnd = extras.appendAtExchangeEnd;
    Apply(seed, device.seed);
    Apply(history, device.history);

    config.com = com;
    Apply(baud, config.baud);
    config.resetDowntime = std::chrono::milliseconds(downtimeMs.value_or(1500));
    config.faults.dropRequestEvery = dropEvery.value_or(0);
    config.faults.flipBitEvery = flipEvery.value_or(0);
    config.faults.dropPercent = dropPercent.value_or(0);
    config.faults.corruptPercent = corruptPercent.value_or(0);
    config.faults.seed = device.seed;
    config.faults.chanceFirst = chanceWindow.first;
    config.faults.chanceLast = chanceWindow.second;
    config.faults.answerDelay = std::chrono::milliseconds(delayMs.value_or(0));
    config.faults.vanishAfter = vanishAfter;
    outcome.config = std::move(config);
    return outcome;
}

}  // namespace kalvo::devsim
