// kalvo-screenshot: shows the main window with a simulated dosimeter plugged in and saves a
// picture of every visible page in both languages (a settings page after its Read, the measuring
// page with a trend of readings), then downloads the history and saves the
// history page at each chart level (minute to year) in both languages.
//
//   kalvo-screenshot OUTPUT_FOLDER DEVSIM_PATH [devsim options...]
//
// scripts/screenshot runs it under Xvfb with private option, runtime and ports folders.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QTimer>
#include <QtTest>
#include <cstdio>

#include "app/pages.h"
#include "gui/history_page.h"
#include "gui/main_window.h"
#include "gui/qt_ui_port.h"
#include "gui/settings_page_widget.h"

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
    // A full ring gives every chart level something to show; unpaced, its download takes seconds.
    // Options given on the command line come later and win.
    QStringList simArgs{"--com", "7", "--history", "full", "--baud", "0"};
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

    // The settings first, so that the trend knows the threshold; then a minute and a half of
    // readings, stamped ten seconds apart so that they fill the ten-minute span of the trend.
    for (Page family : {Page::SettingsR630, Page::SettingsR520}) {
        const int index = static_cast<int>(family);
        if (!window.PageControl()->isTabVisible(index)) continue;
        window.PageControl()->setCurrentIndex(index);
        if (auto* settings = qobject_cast<SettingsPageWidget*>(window.PageControl()->widget(index)))
            settings->Button("Read")->click();
    }
    context.wallClockMs = [stamp = context.wallClockMs() - 900'000]() mutable { return stamp += 10'000; };
    window.PageControl()->setCurrentIndex(static_cast<int>(Page::Measuring));
    WaitFor([&] { return context.trend.Readings().size() >= 90; }, window, 180000);

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
            if (auto* settings = qobject_cast<SettingsPageWidget*>(window.PageControl()->widget(page))) {
                // The settings as read from the device, read once.
                if (settings->TimeBox()->text().isEmpty()) settings->Button("Read")->click();
            }
            QTest::qWait(200);
            QString name = QString("%1/%2-%3.png").arg(output, language, window.PageControl()->widget(page)->objectName());
            if (window.grab().save(name)) ++saved;
        }
    }
    // The history: one download, then the minute chart of the download time and the levels
    // above it, drawn afresh in each language.
    window.PageControl()->setCurrentIndex(static_cast<int>(Page::History));
    HistoryPageWidget& history = *window.History();
    // Half-way through, the page as it looks while reading (the widget's own hook runs first).
    auto pageDone = context.history.onPage;
    context.history.onPage = [&](int done, int total) {
        pageDone(done, total);
        if (done != total / 2) return;
        QString name = QString("%1/%2-%3-reading.png")
                           .arg(output, context.language == InterfaceLanguage::English ? "en" : "ru", history.objectName());
        if (window.grab().save(name)) ++saved;
    };
    // A failed download would wait for its message box to be closed.
    QTimer boxCloser;
    QObject::connect(&boxCloser, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
    });
    boxCloser.start(500);
    history.ReadButton()->click();
    boxCloser.stop();
    context.history.onPage = pageDone;
    if (!context.history.Loaded()) {
        std::fprintf(stderr, "kalvo-screenshot: the history was not downloaded\n");
    } else {
        for (const char* language : {"ru", "en"}) {
            if ((context.language == InterfaceLanguage::English) != (QString(language) == "en"))
                window.ToggleLanguage();
            history.LastButton()->click();
            for (const char* level : {"minute", "hour", "day", "month", "year"}) {
                QTest::qWait(100);
                QString name = QString("%1/%2-%3-%4.png").arg(output, language, history.objectName(), level);
                if (window.grab().save(name)) ++saved;
                history.UpButton()->click();
            }
            // The day again with the maxima behind the averages.
            history.LastButton()->click();
            history.UpButton()->click();
            history.UpButton()->click();
            history.ShowMaximum()->click();
            QTest::qWait(100);
            QString name = QString("%1/%2-%3-day-maximum.png").arg(output, language, history.objectName());
            if (window.grab().save(name)) ++saved;
            history.ShowMaximum()->click();
        }
    }

    std::printf("kalvo-screenshot: %d pictures in %s\n", saved, qPrintable(output));
    sim.terminate();
    sim.waitForFinished(5000);
    window.close();
    return saved > 0 ? 0 : 1;
}
