// kalvo-cli's command line: the input split at NUL bytes into arguments.
// Checks: a command line is either refused with a reason on standard error or gives options
// that the commands can rely on (a known command, a port for the device commands, a count of at
// least 1, a chart level and time that parse again).
#include <cstdint>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "cli/cli_archive.h"
#include "cli/cli_commands.h"

using kalvo::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kalvo;
    std::vector<std::string> args{"kalvo-cli"};
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    if (!current.empty() || size == 0) args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);

    std::ostringstream err;
    std::optional<CliOptions> options = ParseCliArguments(static_cast<int>(args.size()), argv.data(), err);
    if (!options) {
        Check(!err.str().empty() && err.str().back() == '\n');
    } else if (options->help || options->version) {
        // --help and --version win wherever they stand; nothing else is looked at.
        Check(err.str().empty());
    } else {
        Check(err.str().empty());
        const std::string& command = options->command;
        static const std::set<std::string> kCommands{"ports",    "doctor",   "ping",     "identify", "measure",
                                                     "history",  "update",   "firmware", "settings", "clock",
                                                     "calibration", "archive"};
        Check(kCommands.count(command) == 1);
        Check(command == "ports" || command == "doctor" || command == "firmware" || command == "archive" ||
              (options->port >= 0 && options->port <= 250));
        Check(options->count >= 1);
        Check(options->chartLevel.empty() || ParseHistoryLevel(options->chartLevel));
        Check(options->chartAt.empty() || ParseDeviceTime(options->chartAt));
        Check(command != "history" || !options->csvFile.empty() || !options->chartLevel.empty() || options->erase);
        if (command == "archive") {
            // An action, a serial number for all but list, a file or a level as the action needs.
            const std::string& action = options->archiveAction;
            Check(action == "list" || action == "csv" || action == "chart" || action == "import");
            Check(action == "list" ? options->serial.empty() || IsSerialText(options->serial) : IsSerialText(options->serial));
            Check((action == "csv" || action == "import") == !options->archiveFile.empty());
            Check((action == "chart") == !options->chartLevel.empty());
            Check(!options->from || !options->to || *options->from <= *options->to);
        }
    }

    // The time of --at on its own, as the whole input.
    std::string text(reinterpret_cast<const char*>(data), size);
    if (std::optional<DeviceDateTime> time = ParseDeviceTime(text)) {
        Check(time->month >= 1 && time->month <= 12 && time->day >= 1);
        Check(time->day <= DaysInMonth(time->month, 2000u + time->year));
        Check(time->hour < 24 && time->minute < 60 && time->second < 60);
    }
    ParseHistoryLevel(text);
    return 0;
}
