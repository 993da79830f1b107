#include "cli/cli_commands.h"

#include <algorithm>
#include <cstdio>

#ifdef KALVO_WITH_ARCHIVE
#include "app/archived_readings.h"
#include "archive/history_archive.h"
#include "cli/cli_archive.h"
#endif
#ifdef KALVO_WITH_DOCTOR
#include "cli/cli_doctor.h"
#endif
#include "device/device_information.h"
#include "history/history_texts.h"
#include "platform/file_replacement.h"
#include "platform/tick_clock.h"

#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace kalvo {

namespace {

constexpr std::uint64_t kConnectLimitMs = 15000;

// The file the save button would ask for, given on the command line instead.
class NamedFile {
public:
    explicit NamedFile(std::string path) : path_(std::move(path)) {}
    std::optional<std::string> operator()(const CsvSaveDialog&) const { return path_; }

private:
    std::string path_;
};
constexpr std::uint64_t kReadingLimitMs = 10000;

std::optional<int> ParseInt(std::string_view text) {
    int value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<HistoryLevel> ParseHistoryLevel(std::string_view text) {
    if (text == "minute") return HistoryLevel::Minute;
    if (text == "hour") return HistoryLevel::Hour;
    if (text == "day") return HistoryLevel::Day;
    if (text == "month") return HistoryLevel::Month;
    if (text == "year") return HistoryLevel::Year;
    return std::nullopt;
}

std::optional<DeviceDateTime> ParseDeviceTime(std::string_view text) {
    // Exactly "YYYY-MM-DD hh:mm:ss": no signs, no other spacing, every digit in its place.
    constexpr std::string_view kShape = "0000-00-00 00:00:00";
    if (text.size() != kShape.size()) return std::nullopt;
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return std::nullopt;
    }
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char tail = 0;
    std::string copy(text);
    if (std::sscanf(copy.c_str(), "%4u-%2u-%2u %2u:%2u:%2u%c", &year, &month, &day, &hour, &minute, &second, &tail) !=
        6)
        return std::nullopt;
    // The chart writes years of four digits only.
    if (year < 2000 || year > 2099 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(month, year) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return MakeDeviceDateTime(year, month, day, hour, minute, second);
}

std::string CliUsage() {
    return "Usage: kalvo-cli COMMAND [OPTION]...\n"
           "Check and use an R630 or R520 dosimeter on a serial port from the shell.\n"
           "\n"
           "Commands:\n"
           "  ports [--verbose]            list the serial ports by COM number; --verbose adds\n"
           "                               what the system knows of each device\n"
           "  doctor                       check that the serial devices can be used: access,\n"
           "                               brltty, ModemManager; prints the commands that fix\n"
           "                               each problem (exit 0 when nothing is wrong)\n"
           "  ping --port N [--count K]    run the connection test K times on COM N\n"
           "  identify --port N            connect and identify the device on COM N\n"
           "  measure --port N [--count K] [--dose-reset]\n"
           "                               K live readings (default 1); --dose-reset first resets\n"
           "                               the accumulated dose (with --yes to agree)\n"
           "  history --port N [--csv FILE] [--chart LEVEL [--at \"YYYY-MM-DD hh:mm:ss\"]] [--erase]\n"
           "                               download the history; write it as CSV (an existing\n"
           "                               FILE is replaced only with --yes); print the bars of\n"
           "                               LEVEL minute|hour|day|month|year; erase it (--yes)\n"
           "  update --port N [--no-verify] [--retries K]\n"
           "                               bring the device to the built-in firmware (--yes to\n"
           "                               agree); both images are read back and compared unless\n"
           "                               --no-verify; a failed attempt is retried at most K\n"
           "                               times (default 2)\n"
           "  firmware --export DIR        write the built-in firmware images into DIR\n"
           "  settings --port N [--default] [--set KEY=VALUE]... [--restart]\n"
           "                               read the settings page and print KEY=VALUE lines; with\n"
           "                               --default or --set, change the page and save it (--yes);\n"
           "                               VALUE is an item text in either language, else its index;\n"
           "                               --restart answers Yes to restarting after the save\n"
           "  clock --port N [--set]       print the device clock; --set writes the PC's (--yes)\n"
           "  calibration --port N [--set TEXT]\n"
           "                               print K; --set writes K typed as TEXT, 1,27 (--yes)\n"
           "  archive list                 the devices in the history archive: records, first\n"
           "                               and last time\n"
           "  archive csv --serial S [--from T] [--to T] FILE\n"
           "                               write the device's archived records as the history's\n"
           "                               CSV (an existing FILE is replaced only with --yes)\n"
           "  archive live --serial S [--from T] [--to T] FILE\n"
           "                               write the device's kept live readings as CSV (the\n"
           "                               PC's local time; --yes as for archive csv)\n"
           "  archive chart --serial S LEVEL [--at T]\n"
           "                               print the bars of LEVEL over the archive (as history\n"
           "                               --chart; default: at the newest record)\n"
           "  archive import FILE --serial S\n"
           "                               put the records of a CSV file saved by the program\n"
           "                               into the archive as device S\n"
           "                               T is \"YYYY-MM-DD hh:mm:ss\"; every history download and\n"
           "                               every reading of measure is kept in\n"
#ifdef _WIN32
           "                               %LOCALAPPDATA%\\kalvo\\history.sqlite\n"
#else
           "                               $XDG_DATA_HOME/kalvo/history.sqlite\n"
#endif
           "\n"
           "Options for every command:\n"
           "  --log FILE                   write the report log to FILE at exit\n"
           "  --lang en|ru                 language of messages (default en)\n"
           "  --yes                        answer Yes to every question\n"
           "  --upload                     append the report log to the device's file on the\n"
           "                               update server at exit (KALVO_UPDATE_SERVER)\n"
           "  -h, --help                   display this help and exit\n"
           "      --version                output version information and exit\n"
           "\n"
           "Exit status: 0 success, 1 failure, 2 bad command line.\n";
}

std::optional<CliOptions> ParseCliArguments(int argc, const char* const* argv, std::ostream& err) {
    CliOptions options;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    if (args.empty()) {
        err << CliUsage();
        return std::nullopt;
    }
    // --help and --version win wherever they stand.
    for (std::string_view arg : args) {
        if (arg == "--help" || arg == "-h") options.help = true;
        if (arg == "--version") options.version = true;
    }
    if (options.help || options.version) return options;
    options.command = args[0];
    if (options.command == "archive") {
#ifdef KALVO_WITH_ARCHIVE
        if (!ParseArchiveArguments(args, options, err)) return std::nullopt;
#endif
        return options;
    }
    if (options.command != "ports" && options.command != "doctor" && options.command != "ping" &&
        options.command != "identify" && options.command != "measure" && options.command != "history" &&
        options.command != "update" && options.command != "firmware" && options.command != "settings" &&
        options.command != "clock" && options.command != "calibration") {
        err << "kalvo-cli: unknown command '" << options.command << "'\n" << CliUsage();
        return std::nullopt;
    }
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string_view arg = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size()) {
                err << "kalvo-cli: " << arg << " needs a value\n";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--dose-reset") {
            options.doseReset = true;
        } else if (arg == "--erase") {
            options.erase = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--upload") {
            options.upload = true;
        } else if (arg == "--verify") {
            options.verify = true;
        } else if (arg == "--no-verify") {
            options.verify = false;
        } else if (arg == "--default") {
            options.settingsDefault = true;
        } else if (arg == "--restart") {
            options.restart = true;
        } else if (arg == "--set" && options.command == "clock") {
            options.setClock = true;
        } else if (arg == "--set" && (options.command == "settings" || options.command == "calibration")) {
            auto text = value();
            if (!text) return std::nullopt;
            if (options.command == "calibration") {
                options.calibration = std::string(*text);
            } else {
                if (!CheckSettingsEdit(*text, err)) return std::nullopt;
                options.settingsEdits.emplace_back(*text);
            }
        } else if (arg == "--export") {
            auto text = value();
            if (!text) return std::nullopt;
            options.exportDir = *text;
        } else if (arg == "--retries") {
            auto text = value();
            if (!text) return std::nullopt;
            std::optional<int> number = ParseInt(*text);
            if (!number || *number < 0) {
                err << "kalvo-cli: bad number for --retries: " << *text << '\n';
                return std::nullopt;
            }
            options.retries = *number;
        } else if (arg == "--csv" || arg == "--chart" || arg == "--at") {
            auto text = value();
            if (!text) return std::nullopt;
            if (text->empty()) {
                err << "kalvo-cli: " << arg << " needs a value\n";
                return std::nullopt;
            }
            (arg == "--csv" ? options.csvFile : arg == "--chart" ? options.chartLevel : options.chartAt) = *text;
        } else if (arg == "--port" || arg == "--count") {
            auto text = value();
            if (!text) return std::nullopt;
            std::optional<int> number = ParseInt(*text);
            const bool inRange = number && (arg == "--port" ? *number >= 0 && *number <= kHighestComNumber : *number >= 1);
            if (!inRange) {
                err << "kalvo-cli: bad number for " << arg << ": " << *text << '\n';
                return std::nullopt;
            }
            (arg == "--port" ? options.port : options.count) = *number;
        } else if (arg == "--log") {
            auto text = value();
            if (!text) return std::nullopt;
            if (text->empty()) {
                err << "kalvo-cli: --log needs a file name\n";
                return std::nullopt;
            }
            options.logFile = *text;
        } else if (arg == "--lang") {
            auto text = value();
            if (!text) return std::nullopt;
            std::optional<InterfaceLanguage> language = ParseLanguage(*text);
            if (!language) {
                err << "kalvo-cli: --lang takes en or ru\n";
                return std::nullopt;
            }
            options.language = *language;
        } else {
            err << "kalvo-cli: unknown option " << arg << '\n' << CliUsage();
            return std::nullopt;
        }
    }
    if (!options.chartLevel.empty() && !ParseHistoryLevel(options.chartLevel)) {
        err << "kalvo-cli: --chart takes minute, hour, day, month or year\n";
        return std::nullopt;
    }
    if (!options.chartAt.empty() && !ParseDeviceTime(options.chartAt)) {
        err << "kalvo-cli: --at takes \"YYYY-MM-DD hh:mm:ss\" between 2000 and 2099\n";
        return std::nullopt;
    }
    if (options.calibration && !CheckCalibrationText(*options.calibration, options.language, err)) return std::nullopt;
    if (options.command == "history" && options.csvFile.empty() && options.chartLevel.empty() && !options.erase) {
        err << "kalvo-cli: history needs --csv FILE, --chart LEVEL or --erase\n";
        return std::nullopt;
    }
    if (options.command == "firmware" && options.exportDir.empty()) {
        err << "kalvo-cli: firmware needs --export DIR\n";
        return std::nullopt;
    }
    if (options.command != "ports" && options.command != "doctor" && options.command != "firmware" && options.port < 0) {
        err << "kalvo-cli: " << options.command << " needs --port N\n";
        return std::nullopt;
    }
    return options;
}

int RunPorts(AppContext& context, std::ostream& out, bool verbose) {
    std::vector<PortListEntry> entries(1000);
    int count = static_cast<int>(entries.size());
    context.port.EnumeratePorts(entries.data(), count, false);
    CompactPortList(entries.data(), count);
    std::string line = "PORT LIST: " + PortListText(entries.data(), count);
    context.log.LogLine(line);
    out << line << '\n';
#ifdef KALVO_WITH_DOCTOR
    std::optional<SerialInventory> inventory;
    if (verbose) inventory = TakeInventory(SystemTree(SystemRootFromEnvironment()), context.directory.LinksFolder());
#else
    (void)verbose;  // the descriptions come from the doctor's reading of the system
#endif
    for (const PortPath& port : context.directory.List()) {
        out << "COM " << port.number << ' ' << port.path;
#ifdef KALVO_WITH_DOCTOR
        if (inventory) {
            std::string description = PortDescription(*inventory, port);
            if (!description.empty()) out << "  " << description;
        }
#endif
        out << '\n';
    }
    return kExitOk;
}

std::string PortFailureText(const AppContext& context, int port) {
    const std::string com = "COM " + std::to_string(port);
    switch (context.port.LastOpenFailure()) {
    case PortOpenFailure::Busy: {
        std::string text = com + context.Pick(" занят другой программой", " is in use by another program");
        if (std::optional<int> holder = context.port.BusyHolder())
            text += context.Pick(" (процесс ", " (process ") + std::to_string(*holder) + ")";
        return text;
    }
    case PortOpenFailure::NoAccess: {
        std::optional<std::string> path = context.directory.PathOf(port);
        return context.Pick("Нет доступа к ", "No access to ") + com + (path ? " (" + *path + ")" : "") +
               context.Pick(": добавьте пользователя в группу dialout (sudo usermod -aG dialout $USER) и войдите "
                            "в систему заново",
                            ": add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again");
    }
    default: return {};
    }
}

bool OpenDevicePort(AppContext& context, int port, std::ostream& err) {
    context.port.SetPortNumber(port);
    if (context.port.Open(kBaudRate)) return true;
    std::string reason = PortFailureText(context, port);
    if (!reason.empty())
        err << reason << '\n';
    else
        err << context.Pick("Не удалось открыть порт COM ", "Cannot open port COM ") << port << '\n';
    return false;
}

int RunPing(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out, std::ostream& err) {
    if (!OpenDevicePort(context, options.port, err)) return kExitFailure;
    const auto* pattern = reinterpret_cast<const std::uint8_t*>(kConnectionTestPattern.data());
    const int length = static_cast<int>(kConnectionTestPattern.size());
    int answered = 0;
    for (int i = 1; i <= options.count && !ui.StopRequested(); ++i) {
        int result = context.link.ConnectionTest(pattern, length, false);
        if (result == 1) ++answered;
        out << context.Pick("Тест связи ", "Connection test ") << i << ": " << result << '\n' << std::flush;
    }
    context.port.Close();
    if (answered != options.count) {
        err << context.Pick("Прибор ответил на ", "The device answered ") << answered
            << context.Pick(" из ", " of ") << options.count << context.Pick(" тестов", " tests") << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace kalvo

namespace kalvo {

bool ConnectAndIdentify(AppContext& context, ConsoleUiPort& ui, int port, std::ostream& out, std::ostream& err) {
    context.connection.Action_Connection_Manual_NumberExecute(std::to_string(port));
    if (context.connection.Mode() != ConnectionMode::Manual) return false;
    const std::uint64_t start = TickCount();
    while (context.tick.State() != IdentificationState::Identified) {
        ui.Wait(50);
        if (context.tick.State() == IdentificationState::Identified) break;
        if (ui.StopRequested()) return false;
        bool stepped = !context.connection.Panel().text.empty();
        if ((stepped && !context.connection.DeviceConnected()) || TickCount() - start > kConnectLimitMs) {
            std::string reason = context.port.IsOpen() ? std::string() : PortFailureText(context, port);
            if (!reason.empty())
                err << reason << '\n';
            else
                err << context.Pick("Прибор не отвечает на COM ", "No device answers on COM ") << port << '\n';
            return false;
        }
    }
    // The identification as the report log has it, from its opening banner on.
    const auto& lines = context.log.Lines();
    auto header = std::find(lines.rbegin(), lines.rend(), "# Read Device Information:");
    std::size_t first = header == lines.rend() ? lines.size() : static_cast<std::size_t>(lines.rend() - header) - 2;
    for (std::size_t i = first; i < lines.size(); ++i) out << lines[i] << '\n';
    if (!context.tick.DeviceRecognised()) {
        err << context.Pick("Прибор не поддерживается или не опознан", "The device is not supported or not recognised")
            << '\n';
        return false;
    }
    return true;
}

int RunIdentify(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
                std::ostream& err) {
    return ConnectAndIdentify(context, ui, options.port, out, err) ? kExitOk : kExitFailure;
}

int RunMeasure(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err) {
#ifdef KALVO_WITH_ARCHIVE
    // Every reading goes to the archive as the window's do.
    KeepReadingsInArchive(context);
#endif
    // Every reading given is stored, or its failure logged, before the report is written.
    struct Settled {
        AppContext& context;
        ~Settled() {
            if (context.readingStore) context.readingStore->Settle();
        }
    } settled{context};
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;
    LiveMeasurement& live = context.live;
    if (!live.MeasurementAccessCheck()) {
        err << ConsoleText(live.Page().versionMessage) << '\n';
        return kExitFailure;
    }
    if (options.doseReset) {
        live.BitBtn_Measure_Dose_ResetClick();
        if (!live.DoseResetSucceeded()) return kExitFailure;
    }
    // As the page with automatic reading on: once a second, the dose every tenth reading.
    live.measuringPageActive = true;
    int printed = 0;
    std::uint64_t lastProgress = TickCount();
    while (printed < options.count) {
        ui.Wait(50);
        if (ui.StopRequested()) return kExitFailure;
        if (live.Readings() > printed) {
            // What is printed is stored: a script reading the output can rely on the archive.
            if (context.readingStore) context.readingStore->Settle();
            ++printed;
            lastProgress = TickCount();
            out << live.Page().rateText;
            if (live.LastReadingHadDose()) out << "; " << live.Page().doseText;
            out << '\n' << std::flush;
        } else if (TickCount() - lastProgress > kReadingLimitMs) {
            err << context.Pick("Нет показаний от прибора", "No readings from the device") << '\n';
            return kExitFailure;
        }
    }
    live.measuringPageActive = false;
    return kExitOk;
}

}  // namespace kalvo

namespace kalvo {

bool CheckCsvTarget(AppContext& context, const CliOptions& options, std::ostream& err) {
    const std::string& name = options.csvFile;
    const FileTarget target = InspectFileTarget(name);
    if (target == FileTarget::NotRegular) {
        err << "error: " << ConsoleText(kCsvOpenError.Pick(context.language) + name) << '\n';
        return false;
    }
    if (target == FileTarget::Regular && !options.yes) {
        err << ConsoleText(kCsvExistsStart.Pick(context.language) + name + kCsvExistsEnd.Pick(context.language))
            << " [no: run with --yes to agree]\n";
        return false;
    }
    // The folder must take the new file: try it, leaving nothing behind.
    FileReplacement probe;
    if (!probe.Begin(name)) {
        const TextPair& text = target == FileTarget::Regular ? kCsvOpenError : kCsvCreateError;
        err << "error: " << ConsoleText(text.Pick(context.language) + (target == FileTarget::Regular ? "" : "\r\n") +
                                        name)
            << '\n';
        return false;
    }
    return true;
}

int RunHistory(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err) {
    // A file that cannot be written is found before a download of minutes, not after it.
    if (!options.csvFile.empty() && !CheckCsvTarget(context, options, err)) return kExitFailure;
    if (!ConnectAndIdentify(context, ui, options.port, out, err)) return kExitFailure;
    HistoryPage& history = context.history;
    if (!options.csvFile.empty() || !options.chartLevel.empty()) {
        history.onPage = [&ui, &context](int done, int total) {
            ui.ProgressLine(context.Pick("История: страница ", "History: page ") + std::to_string(done) + "/" +
                            std::to_string(total));
            if (done == total) ui.EndProgressLine();
        };
        history.BitBtn_HIS_ReadClick();
        if (!history.Loaded()) return kExitFailure;
#ifdef KALVO_WITH_ARCHIVE
        // Kept in the archive; its report-log line (or the failure's) also goes to stderr.
        ArchiveCompletedDownload(DefaultArchivePath(), history, context.identity, {&ui, &context.log, context.language});
        err << context.log.LastLoggedLine() << '\n';
#endif
    }
    if (!options.csvFile.empty()) {
        LocalCsvFileAccess files;
        if (history.BitBtn_HIS_Save_CSVClick(files, NamedFile(options.csvFile)) != CsvSaveResult::Saved)
            return kExitFailure;
    }
    if (!options.chartLevel.empty()) {
        // The maximum as drawn with "Show maximum" checked.
        history.CheckBox_HIS_Show_MaxValClick(true);
        DeviceDateTime at = options.chartAt.empty() ? history.DeviceTime() : *ParseDeviceTime(options.chartAt);
        history.ShowAt(*ParseHistoryLevel(options.chartLevel), at);
        out << ChartModelText(history.View().chart) << std::flush;
    }
    if (options.erase && !history.BitBtn_HIS_DeleteClick()) return kExitFailure;
    return kExitOk;
}

}  // namespace kalvo
