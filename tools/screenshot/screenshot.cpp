// kalvo-screenshot: shows the main window with a simulated dosimeter plugged in and saves a
// picture of every visible page in both languages.
//
//   kalvo-screenshot OUTPUT_FOLDER DEVSIM_PATH [devsim options...]
//
// scripts/screenshot runs it under Xvfb with private option, runtime and ports folders.
#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <cstdio>

#include "app/pages.h"
#include "gui/main_window.h"
#include "gui/qt_ui_port.h"

using namespace kalvo;

namespace {

bool WaitFor(const std::function<bool()>& done, MainWindow& window, int timeoutMs) {
    return QTest::qWaitFor([&] {
        window.Timer_ProcTimer();
        return done();
    }, timeoutMs);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: kalvo-screenshot OUTPUT_FOLDER DEVSIM_PATH [devsim options...]\n");
        return 2;
    }
    QString output = argv[1];
    QDir().mkpath(output);
    QStringList simArgs{"--com", "7"};
    for (int i = 3; i < argc; ++i) simArgs << argv[i];

    QtUiPort ui;
    AppContext context(ui, PortDirectory::FromEnvironment());
    MainWindow window(context, ui);
    if (!window.FormCreate()) return 1;
    window.show();

    // Plug the device in after the first scan, as a user would.
    if (!WaitFor([&] { return context.connection.ScanList().FirstScanDone(); }, window, 5000)) return 1;
    QProcess sim;
    sim.start(argv[2], simArgs);
    if (!sim.waitForStarted() || !sim.waitForReadyRead(10000)) return 1;
    if (!WaitFor([&] { return context.tick.DeviceRecognised(); }, window, 15000)) {
        std::fprintf(stderr, "kalvo-screenshot: the device was not identified\n");
        return 1;
    }
    window.Action_Log_VisibleExecute();

    int saved = 0;
    for (const char* language : {"ru", "en"}) {
        if ((context.language == InterfaceLanguage::English) != (QString(language) == "en")) window.ToggleLanguage();
        for (int page = 0; page < kPageCount; ++page) {
            if (!window.PageControl()->isTabVisible(page)) continue;
            window.PageControl()->setCurrentIndex(page);
            if (page == static_cast<int>(Page::Measuring)) {
                // A reading with the dose, as the page shows it after a second or so.
                int before = context.live.Readings();
                WaitFor([&] { return context.live.Readings() > before && context.live.LastReadingHadDose(); }, window,
                        15000);
            }
            QTest::qWait(200);
            QString name = QString("%1/%2-%3.png").arg(output, language, window.PageControl()->widget(page)->objectName());
            if (window.grab().save(name)) ++saved;
        }
    }
    std::printf("kalvo-screenshot: %d pictures in %s\n", saved, qPrintable(output));
    sim.terminate();
    sim.waitForFinished(5000);
    window.close();
    return saved > 0 ? 0 : 1;
}
