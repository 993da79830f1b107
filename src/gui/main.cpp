// kalvo-explorer: the desktop program.
#ifndef _WIN32
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <string_view>

#include <QApplication>
#include <QSocketNotifier>

#include "app/archived_readings.h"
#include "gui/main_window.h"
#include "gui/qt_ui_port.h"
#include "i18n/captions.h"
#include "i18n/program_info.h"

namespace {

constexpr const char* kUsage =
    "Usage: kalvo-explorer [OPTION]...\n"
    "The desktop manager for R630 and R520 dosimeters on a serial port.\n"
    "\n"
    "  -h, --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "\n"
    "Qt's own options (-platform, -style, ...) are taken too. Ports are found as kalvo-cli\n"
    "finds them (KALVO_PORTS_DIR, KALVO_SYSTEM_PORTS); 'kalvo-cli doctor' tells why a device\n"
    "cannot be used.\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so they work without a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h" || arg == "--version") {
            std::fputs(arg == "--version" ? kalvo::GnuVersionText("kalvo-explorer").c_str() : kUsage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
#ifndef _WIN32
    // SIGTERM, SIGINT and SIGHUP end the program through the same shutdown as Exit. They are blocked
    // before any thread starts (the serial reader inherits the mask) and read from a signalfd.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    // A file that outgrows the size limit fails its write instead of ending the program.
    signal(SIGXFSZ, SIG_IGN);
#endif

    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kalvo.Explorer"));
    QApplication::setApplicationName(QString::fromUtf8(kalvo::kApplicationTitle.data(),
                                                       static_cast<int>(kalvo::kApplicationTitle.size())));
    kalvo::QtUiPort ui;
    kalvo::AppContext context(ui, kalvo::PortDirectory::FromEnvironment());
    kalvo::KeepReadingsInArchive(context);
    kalvo::MainWindow window(context, ui);

#ifndef _WIN32
    QSocketNotifier stopNotifier(stopFd, QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&] {
        signalfd_siginfo info;
        if (read(stopFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
        window.StopSignalled(static_cast<int>(info.ssi_signo));
    });
    // Also ends a message box that start-up may be showing.
    window.onSignalClose = [] { QApplication::exit(0); };
#endif

    int status = 0;
    if (window.FormCreate()) {
        window.show();
        status = app.exec();
    }
    window.FormDestroy();
#ifndef _WIN32
    close(stopFd);
#endif
    return status;
}
