#include "cli/cli_archive.h"

#include <ctime>
#include <limits>

#include "archive/history_archive.h"
#include "archive/live_archive.h"
#include "cli/cli_commands.h"
#include "history/history_chart.h"
#include "platform/file_replacement.h"

namespace kalvo {

namespace {

std::optional<std::uint32_t> ParseArchiveTime(std::string_view text) {
    std::optional<DeviceDateTime> time = ParseDeviceTime(text);
    if (!time) return std::nullopt;
    return DateTimeToSeconds(*time);
}

std::unique_ptr<HistoryArchive> OpenArchive(AppContext& context, ConsoleUiPort& ui, std::ostream& err) {
    std::string error;
    std::unique_ptr<HistoryArchive> archive =
        HistoryArchive::Open(DefaultArchivePath(), {&ui, &context.log, context.language}, &error);
    if (!archive) {
        context.log.LogError("Archive: " + error);
        err << "kalvo-cli: archive: " << error << '\n';
    }
    return archive;
}

// Seconds since 2000 read as the PC's local time (as the live CSV writes it), in UTC milliseconds.
std::int64_t LocalSecondsToUtcMs(std::uint32_t seconds) {
    const DeviceDateTime time = SecondsToDateTime(seconds);
    std::tm local{};
    local.tm_year = 100 + time.year;
    local.tm_mon = time.month - 1;
    local.tm_mday = time.day;
    local.tm_hour = time.hour;
    local.tm_min = time.minute;
    local.tm_sec = time.second;
    local.tm_isdst = -1;
    return static_cast<std::int64_t>(std::mktime(&local)) * 1000;
}

int RunArchiveLive(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& err) {
    std::string error;
    std::unique_ptr<LiveArchive> archive =
        LiveArchive::Open(DefaultArchivePath(), {&ui, &context.log, context.language}, &error);
    if (!archive) {
        context.log.LogError("Archive: " + error);
        err << "kalvo-cli: archive: " << error << '\n';
        return kExitFailure;
    }
    std::optional<bool> known = archive->HasDevice(options.serial);
    if (!known) {
        err << "kalvo-cli: archive live: " << archive->LastError() << '\n';
        return kExitFailure;
    }
    if (!*known) {
        err << "kalvo-cli: no device " << options.serial << " in the archive " << archive->Path() << '\n';
        return kExitFailure;
    }
    // --to names its whole second.
    const std::int64_t from = options.from ? LocalSecondsToUtcMs(*options.from) : 0;
    const std::int64_t to =
        options.to ? LocalSecondsToUtcMs(*options.to) + 1000 : std::numeric_limits<std::int64_t>::max();
    if (!archive->WriteCsvFile(options.serial, from, to, options.archiveFile)) {
        err << "kalvo-cli: archive live: " << archive->LastError() << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

std::string ArchiveTimeText(std::uint32_t seconds) {
    DeviceDateTime time = SecondsToDateTime(seconds);
    return std::to_string(2000 + time.year) + "-" + TwoDigitText(time.month) + "-" + TwoDigitText(time.day) + " " +
           TwoDigitText(time.hour) + ":" + TwoDigitText(time.minute) + ":" + TwoDigitText(time.second);
}

bool IsSerialText(std::string_view text) {
    if (text.size() != 9 || text[3] != '-') return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == 3) continue;
        const char c = text[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

bool ParseArchiveArguments(const std::vector<std::string_view>& args, CliOptions& options, std::ostream& err) {
    if (args.size() < 2) {
        err << "kalvo-cli: archive needs list, csv, live, chart or import\n";
        return false;
    }
    options.archiveAction = args[1];
    const std::string& action = options.archiveAction;
    if (action != "list" && action != "csv" && action != "live" && action != "chart" && action != "import") {
        err << "kalvo-cli: unknown archive action '" << action << "'; use list, csv, live, chart or import\n";
        return false;
    }
    std::vector<std::string_view> positional;
    for (std::size_t i = 2; i < args.size(); ++i) {
        std::string_view arg = args[i];
        auto value = [&]() -> std::optional<std::string_view> {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                err << "kalvo-cli: " << arg << " needs a value\n";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == "--yes") {
            options.yes = true;
        } else if (arg == "--log" || arg == "--lang" || arg == "--serial" || arg == "--from" || arg == "--to" ||
                   arg == "--at") {
            std::optional<std::string_view> text = value();
            if (!text) return false;
            if (arg == "--log") {
                options.logFile = *text;
            } else if (arg == "--lang") {
                std::optional<InterfaceLanguage> language = ParseLanguage(*text);
                if (!language) {
                    err << "kalvo-cli: --lang takes en or ru\n";
                    return false;
                }
                options.language = *language;
            } else if (arg == "--serial") {
                if (!IsSerialText(*text)) {
                    err << "kalvo-cli: --serial takes a serial number such as 123-45678\n";
                    return false;
                }
                options.serial = *text;
            } else {
                std::optional<std::uint32_t> time = ParseArchiveTime(*text);
                if (!time) {
                    err << "kalvo-cli: " << arg << " takes \"YYYY-MM-DD hh:mm:ss\" between 2000 and 2099\n";
                    return false;
                }
                if (arg == "--at")
                    options.chartAt = *text;
                else if (arg == "--from")
                    options.from = time;
                else
                    options.to = time;
            }
        } else if (arg.empty()) {
            err << "kalvo-cli: an empty argument for archive " << action << '\n';
            return false;
        } else if (arg.size() > 1 && arg[0] == '-') {
            err << "kalvo-cli: unknown option " << arg << " for archive " << action << '\n';
            return false;
        } else {
            positional.push_back(arg);
        }
    }

    const bool needsSerial = action != "list";
    if (needsSerial && options.serial.empty()) {
        err << "kalvo-cli: archive " << action << " needs --serial S\n";
        return false;
    }
    if (action != "csv" && action != "live" && (options.from || options.to)) {
        err << "kalvo-cli: --from and --to belong to archive csv and archive live\n";
        return false;
    }
    if (action != "chart" && !options.chartAt.empty()) {
        err << "kalvo-cli: --at belongs to archive chart\n";
        return false;
    }
    if (options.from && options.to && *options.from > *options.to) {
        err << "kalvo-cli: --from is later than --to\n";
        return false;
    }
    const std::size_t wanted = action == "list" ? 0 : 1;
    if (positional.size() != wanted) {
        if (action == "list")
            err << "kalvo-cli: archive list takes no file or level\n";
        else if (action == "chart")
            err << "kalvo-cli: archive chart needs one LEVEL: minute, hour, day, month or year\n";
        else
            err << "kalvo-cli: archive " << action << " needs one FILE\n";
        return false;
    }
    if (action == "chart") {
        if (!ParseHistoryLevel(positional[0])) {
            err << "kalvo-cli: archive chart takes minute, hour, day, month or year\n";
            return false;
        }
        options.chartLevel = positional[0];
    } else if (wanted == 1) {
        options.archiveFile = positional[0];
    }
    return true;
}

int RunArchive(AppContext& context, ConsoleUiPort& ui, const CliOptions& options, std::ostream& out,
               std::ostream& err) {
    const std::string& action = options.archiveAction;
    // A file that cannot be written is found before the archive is touched.
    if (action == "csv" || action == "live") {
        CliOptions target = options;
        target.csvFile = options.archiveFile;
        if (!CheckCsvTarget(context, target, err)) return kExitFailure;
    }
    if (action == "live") return RunArchiveLive(context, ui, options, err);
    if (action == "import" && InspectFileTarget(options.archiveFile) != FileTarget::Regular) {
        err << "kalvo-cli: archive import: no file " << options.archiveFile << '\n';
        return kExitUsage;
    }

    std::unique_ptr<HistoryArchive> archive = OpenArchive(context, ui, err);
    if (!archive) return kExitFailure;

    if (action == "list") {
        out << "SERIAL;FAMILY;RECORDS;FIRST;LAST;DOWNLOADS;DEVICE\n";
        for (const ArchiveDeviceSummary& device : archive->Devices()) {
            out << device.serial << ';' << FamilyText(device.boardCode) << ';' << device.recordCount << ';'
                << (device.recordCount ? ArchiveTimeText(device.firstTime) : "") << ';'
                << (device.recordCount ? ArchiveTimeText(device.lastTime) : "") << ';' << device.downloads << ';'
                << device.identityText << '\n';
        }
        if (!archive->LastError().empty()) {
            err << "kalvo-cli: archive list: " << archive->LastError() << '\n';
            return kExitFailure;
        }
        return out.flush() ? kExitOk : kExitFailure;
    }

    if (action == "import") {
        ImportError error;
        std::optional<MergeCounts> counts = archive->ImportCsv(options.archiveFile, options.serial, &error);
        if (!counts) {
            err << "kalvo-cli: archive import: " << options.archiveFile;
            if (error.line > 0) err << ':' << error.line;
            err << ": " << error.reason << "; nothing imported\n";
            context.log.LogError("Archive import: " + options.archiveFile + ": " + error.reason);
            return error.line > 0 ? kExitUsage : kExitFailure;
        }
        context.log.LogLine(ArchiveMergeLogLine(options.serial, *counts));
        out << counts->added << " new, " << counts->updated << " updated, " << counts->unchanged << " unchanged\n";
        return out.flush() ? kExitOk : kExitFailure;
    }

    // Read from the device's index alone: the command costs what its span costs.
    std::optional<ArchiveDeviceHead> head = archive->Head(options.serial);
    if (!head) {
        if (!archive->LastError().empty()) {
            err << "kalvo-cli: archive " << action << ": " << archive->LastError() << '\n';
            return kExitFailure;
        }
        err << "kalvo-cli: no device " << options.serial << " in the archive " << archive->Path() << '\n';
        return kExitFailure;
    }

    if (action == "csv") {
        ArchiveQuery query{options.serial, options.from.value_or(0), options.to.value_or(0xFFFFFFFF)};
        std::uint32_t lines = 0;
        if (!archive->WriteCsvFile(query, options.archiveFile, &lines)) {
            err << "kalvo-cli: archive csv: " << archive->LastError() << '\n';
            return kExitFailure;
        }
        return kExitOk;
    }

    // chart
    ArchivePeriodSource records(std::shared_ptr<HistoryArchive>(std::move(archive)), options.serial, *head);
    ChartRequest request;
    request.level = *ParseHistoryLevel(options.chartLevel);
    request.position =
        options.chartAt.empty() ? SecondsToDateTime(records.NewestTime()) : *ParseDeviceTime(options.chartAt);
    request.conversion = records.Conversion();
    // The maximum as drawn with "Show maximum" checked, as history --chart prints it.
    request.showMaximum = true;
    request.language = context.language;
    const ChartModel chart = DrawHistoryChart(records, request);
    if (!records.Error().empty()) {
        err << "kalvo-cli: archive chart: " << records.Error() << '\n';
        return kExitFailure;
    }
    out << ChartModelText(chart) << std::flush;
    return out ? kExitOk : kExitFailure;
}

}  // namespace kalvo
