#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>
#endif

#include <iostream>

#ifdef KALVO_WITH_ARCHIVE
#include "cli/cli_archive.h"
#endif
#include "cli/cli_commands.h"
#ifdef KALVO_WITH_DOCTOR
#include "cli/cli_doctor.h"
#endif
#ifdef KALVO_WITH_UPLOAD
#include "cli/cli_upload.h"
#endif
#include "cli/console_ui_port.h"
#include "i18n/program_info.h"

#ifdef _WIN32
namespace {

// Ctrl+C, Ctrl+Break and closing the console end a command in order, as the signals do on
// Linux: the handler (on a thread of the system's) finds this process's stop event by its name.
std::wstring StopEventName() { return L"Local\\kalvo-cli-stop-" + std::to_wstring(::GetCurrentProcessId()); }

BOOL WINAPI OnConsoleStop(DWORD) {
    HANDLE event = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName().c_str());
    if (!event) return FALSE;
    ::SetEvent(event);
    ::CloseHandle(event);
    return TRUE;
}

}  // namespace
#endif

int main(int argc, char** argv) {
    using namespace kalvo;
#ifdef _WIN32
    // The same bytes as on Linux: no "\r" added before "\n", and UTF-8 texts on the console.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    ::SetConsoleOutputCP(CP_UTF8);
#endif
    std::optional<CliOptions> options = ParseCliArguments(argc, argv, std::cerr);
    if (!options) return kExitUsage;
    if (options->help || options->version) {
        std::cout << (options->help ? CliUsage() : GnuVersionText("kalvo-cli"));
        return std::cout.flush() ? kExitOk : kExitFailure;
    }

#ifdef _WIN32
    const int stopFd = -1;
    HANDLE stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, StopEventName().c_str());
    if (stopEvent) ::SetConsoleCtrlHandler(OnConsoleStop, TRUE);
#else
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
#endif

    ConsoleUiPort ui(std::cerr, options->yes);
    AppContext context(ui, PortDirectory::FromEnvironment(), options->language);
    // The console's stand-in for the window's Timer_Proc.
    ui.timerProc = [&context] { context.tick.Run(); };
    ui.SetStopSignal(stopFd);
#ifdef _WIN32
    ui.SetStopEvent(stopEvent);
#endif
    ui.onStop = [&context, &ui] {
        // Writes to the device end at their next safe point; an update asks no more questions.
        context.stop.Request(ui.StopSignal());
        if (context.history.Downloading()) context.history.BitBtn_HIS_ReadClick();  // the Cancel button
    };

#ifdef KALVO_WITH_UPLOAD
    // A wrong server address is bad input: refused before any device is opened.
    if (options->upload && !CheckUploadServer(context, std::cerr)) return kExitUsage;
#endif

    int status = kExitFailure;
    if (options->command == "ports") {
        status = RunPorts(context, std::cout, options->verbose);
    } else if (options->command == "doctor") {
#ifdef KALVO_WITH_DOCTOR
        status = RunDoctor(context.directory, options->language, std::cout);
#else
        std::cerr << context.Pick("kalvo-cli doctor проверяет последовательные порты Linux; в этой сборке его нет",
                                  "kalvo-cli doctor checks the serial ports of Linux; this build has no doctor")
                  << '\n';
#endif
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
#ifdef KALVO_WITH_ARCHIVE
        status = RunArchive(context, ui, *options, std::cout, std::cerr);
#else
        status = kExitFailure;
        std::cerr << context.Pick("В этой сборке нет архива истории (нет SQLite)",
                                  "This build has no history archive (no SQLite)")
                  << '\n';
#endif
    } else if (options->command == "firmware") {
        status = RunFirmwareExport(*options, std::cout, std::cerr);
    }
    context.port.Close();
    // Before the log file, which then also holds the upload's own lines.
    if (options->upload) {
        ui.timerProc = {};  // the port is closed: no more ticks
#ifdef KALVO_WITH_UPLOAD
        // With --log the report is kept there; without it the temporary copy stays on failure.
        if (!UploadRunReport(context, options->logFile.empty(), std::cerr) && status == kExitOk)
            status = kExitFailure;
#else
        std::cerr << context.Pick("В этой сборке нет отправки отчёта на сервер обновлений (--upload)",
                                  "This build has no upload to the update server (--upload)")
                  << '\n';
        if (status == kExitOk) status = kExitFailure;
#endif
    }
    if (!options->logFile.empty() && !context.log.WriteFile(options->logFile)) {
        std::cerr << context.Pick("Не удалось записать лог в ", "Cannot write the report log to ")
                  << options->logFile << '\n';
        if (status == kExitOk) status = kExitFailure;
    }
#ifdef _WIN32
    // The handler stays installed; the event it would open is gone with its last handle.
    if (stopEvent) ::CloseHandle(stopEvent);
#else
    if (stopFd >= 0) close(stopFd);
#endif
    return ui.StopRequested() ? 128 + ui.StopSignal() : status;
}
