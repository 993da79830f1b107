#pragma once
// kalvo-cli: argument parsing and the commands. Every command takes --log FILE (report log
// written there at exit) and --lang en|ru; exit status 0 only on success.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/context.h"
#include "cli/console_ui_port.h"

namespace kalvo {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct CliOptions {
    std::string command;
    int port = -1;
    int count = 1;
    std::string logFile;
    InterfaceLanguage language = InterfaceLanguage::English;
    bool yes = false;
    bool doseReset = false;
    std::string csvFile;
    std::string chartLevel;
    std::string chartAt;
    bool erase = false;
    bool upload = false;
    bool verify = true;
    int retries = 2;
    std::string exportDir;
    bool verbose = false;
    bool help = false;
    bool version = false;
    // settings: edits as key=value in order, Default first, Yes to the restart question.
    std::vector<std::string> settingsEdits;
    bool settingsDefault = false;
    bool restart = false;
    bool setClock = false;                   // clock --set
    std::optional<std::string> calibration;  // calibration --set TEXT
    // archive ACTION [--serial S] [--from T] [--to T] [LEVEL] [FILE]
    std::string archiveAction;  // list, csv, chart, import
    std::string serial;
    std::optional<std::uint32_t> from;
    std::optional<std::uint32_t> to;
    std::string archiveFile;
};

// Parses argv; on a bad command line returns nothing and writes the reason to `err`.
std::optional<CliOptions> ParseCliArguments(int argc, const char* const* argv, std::ostream& err);
std::string CliUsage();
// "minute" .. "year".
std::optional<HistoryLevel> ParseHistoryLevel(std::string_view text);
// "YYYY-MM-DD hh:mm:ss", a real date between 2000 and 2099.
std::optional<DeviceDateTime> ParseDeviceTime(std::string_view text);

// --verbose adds what the system knows of each device.
int RunPorts(AppContext& context, std::ostream& out, bool verbose = false);
int RunPing(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out, std::ostream& err);
int RunIdentify(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                std::ostream& err);
int RunHistory(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err);
int RunMeasure(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err);
int RunUpdate(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
              std::ostream& err);
int RunFirmwareExport(const CliOptions& options, std::ostream& out, std::ostream& err);
int RunSettings(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                std::ostream& err);
int RunClock(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out, std::ostream& err);
int RunCalibration(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                   std::ostream& err);
// A settings edit "key=value" that some family's page could take; the reason on `err` if not.
bool CheckSettingsEdit(std::string_view edit, std::ostream& err);
// calibration --set TEXT: what the page would refuse after connecting is refused before, in its
// words.
bool CheckCalibrationText(const std::string& text, InterfaceLanguage language, std::ostream& err);

// Opens COM n at the line rate, as every device command does first. False, with a message on
// `err`, when the port cannot be opened.
bool OpenDevicePort(AppContext& context, int port, std::ostream& err);

// Why COM `port` could not be used, from the port's last open failure: in use by another program
// (with its process id when known), no access, or empty when nothing more is known.
std::string PortFailureText(const AppContext& context, int port);

// The CSV target can be written: not a device or folder, not an existing file without --yes, and
// its folder takes a new file. Says why not on `err`.
bool CheckCsvTarget(AppContext& context, const CliOptions& options, std::ostream& err);

// What every device command does first, as the window does: the port chosen by hand, the
// processing tick connecting and identifying the device. The identification lines of the report
// log go to `out`; true only for a supported device.
bool ConnectAndIdentify(AppContext& context, ConsoleUiPort& ui, int port, std::ostream& out, std::ostream& err);

}  // namespace kalvo
