#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <iostream>

#include "cli/cli_archive.h"
#include "cli/cli_commands.h"
#include "cli/cli_doctor.h"
#include "cli/cli_upload.h"
#include "cli/console_ui_port.h"
#include "i18n/program_info.h"

int main(int argc, char** argv) {
    using namespace kalvo;
    std::optional<CliOptions> options = ParseCliArguments(argc, argv, std::cerr);
    if (!options) return kExitUsage;
    if (options->help || options->version) {
        std::cout << (options->help ? CliUsage() : GnuVersionText("kalvo-cli"));
        return std::cout.flush() ? kExitOk : kExitFailure;
    }

    // Ctrl+C, SIGTERM and SIGHUP (terminal closed) end a command in order: a running download
    // is cancelled at its next page (the device gets its exchange end) and the report log is
    // still written. Blocked before the serial reader thread starts, read from a signalfd.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    // A file that outgrows the size limit fails its write instead of ending the program.
    signal(SIGXFSZ, SIG_IGN);

    ConsoleUiPort ui(std::cerr, options->yes);
    AppContext context(ui, PortDirectory::FromEnvironment(), options->language);
    // The console's stand-in for the window's Timer_Proc.
    ui.timerProc = [&context] { context.tick.Run(); };
    ui.SetStopSignal(stopFd);
    ui.onStop = [&context] {
        if (context.history.Downloading()) context.history.BitBtn_HIS_ReadClick();  // the Cancel button
    };

    int status = kExitFailure;
    if (options->command == "ports") {
        status = RunPorts(context, std::cout, options->verbose);
    } else if (options->command == "doctor") {
        status = RunDoctor(context.directory, options->language, std::cout);
    } else if (options->command == "ping") {
        status = RunPing(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "identify") {
        status = RunIdentify(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "history") {
        status = RunHistory(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "measure") {
        status = RunMeasure(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "update") {
        status = RunUpdate(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "settings") {
        status = RunSettings(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "clock") {
        status = RunClock(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "calibration") {
        status = RunCalibration(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "archive") {
        status = RunArchive(context, ui, *options, std::cout, std::cerr);
    } else if (options->command == "firmware") {
        status = RunFirmwareExport(*options, std::cout, std::cerr);
    }
    context.port.Close();
    // Before the log file, which then also holds the upload's own lines.
    if (options->upload) {
        ui.timerProc = {};  // the port is closed: no more ticks
        if (!UploadRunReport(context, std::cerr) && status == kExitOk) status = kExitFailure;
    }
    if (!options->logFile.empty() && !context.log.WriteFile(options->logFile)) {
        std::cerr << context.Pick("Не удалось записать лог в ", "Cannot write the report log to ")
                  << options->logFile << '\n';
        if (status == kExitOk) status = kExitFailure;
    }
    if (stopFd >= 0) close(stopFd);
    return ui.StopRequested() ? 128 + ui.StopSignal() : status;
}
