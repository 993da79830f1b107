// The Upgrade button in the window on the offscreen platform, against a simulated R630: the
// confirmation, the five steps in the status panel with the pages and the button disabled
// meanwhile, the progress bar and the log view following, the congratulations, the device
// identified afresh; the "Verify after writing" item kept in kalvo.conf.
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "app/pages.h"
#include "gui/device_info_page.h"
#include "gui/log_page.h"
#include "gui/main_window.h"
#include "gui/program_config.h"
#include "gui/qt_ui_port.h"
#include "support/sim_fixture.h"
#include "window_folders.h"

using namespace kalvo;

namespace {

// Answers every message box with Yes (or OK) as it comes up and keeps its text.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer() { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }
    QStringList texts;
    QList<QMessageBox::Icon> icons;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            icons << box->icon();
            QMessageBox::StandardButton answer = box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
            QMetaObject::invokeMethod(box, [box, answer] { box->button(answer)->click(); }, Qt::QueuedConnection);
        }
        return false;
    }
};

}  // namespace

class FirmwareWindowTest : public QObject {
    Q_OBJECT

private slots:
    void upgradeRunsTheFiveStepsAndTheDeviceComesBack() {
        test::TempFolder folder;
        test::PrepareWindowFolders(folder, 2, int(Page::DeviceInfo));
        QtUiPort ui;
        AppContext context(ui, PortDirectory(folder.File("ports"), false));
        MainWindow window(context, ui);
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        // The settings menu item: on for a new installation, kept in the program's own file, and
        // a stored "off" stays off.
        QAction* verify = window.Action("Action_Verify_Write");
        QVERIFY(verify);
        QCOMPARE(verify->text(), QString("Verify after writing"));
        QVERIFY(verify->isChecked());
        QVERIFY(context.firmware.verifyAfterWriting);
        verify->trigger();
        QVERIFY(!context.firmware.verifyAfterWriting);
        QCOMPARE(ProgramConfig::FilePath(), QString::fromStdString(folder.File("config") + "/kalvo/kalvo.conf"));
        QVERIFY(!ProgramConfig().VerifyAfterWriting());
        verify->trigger();
        QVERIFY(context.firmware.verifyAfterWriting);
        QVERIFY(ProgramConfig().VerifyAfterWriting());

        test::SimFixture sim;
        QVERIFY(QTest::qWaitFor([&] {
            window.Timer_ProcTimer();
            return context.connection.ScanList().FirstScanDone();
        }, 5000));
        std::filesystem::create_directories(folder.File("ports"));
        auto device = sim.StartSimIn(folder.File("ports"), 7,
                                     {"--baud", "0", "--reset-downtime-ms", "500", "--screen-log", folder.File("screen.txt")});
        QVERIFY(QTest::qWaitFor([&] { return context.tick.DeviceRecognised(); }, 10000));
        QPushButton* upgrade = window.DeviceInfo()->RenewButton();
        QVERIFY(QTest::qWaitFor([&] { return upgrade->isEnabled(); }, 2000));

        // What the window shows while the update runs, looked at every 50 ms.
        QStringList statuses;
        bool locked = true, progressed = false, busyShown = false;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (!context.firmware.Running()) return;
            const QString status = window.StatusPanel()->text();
            if (statuses.isEmpty() || statuses.back() != status) statuses << status;
            for (Page page : {Page::Measuring, Page::History, Page::DeviceInfo})
                locked = locked && !window.PageWidget(page)->isEnabled();
            locked = locked && !upgrade->isEnabled();
            progressed = progressed || window.findChild<QProgressBar*>("ProgressBar_Bottom_Info")->value() > 0;
            busyShown = busyShown || context.firmware.Running();
        });
        watcher.start(50);

        context.firmware.allowStandIn = true;  // the stand-ins go to the simulator only
        BoxAnswerer boxes;
        upgrade->click();
        watcher.stop();

        QCOMPARE(boxes.texts, (QStringList{"Device Firmaere\n\rwill Updated/Restored\n\rto Version 1.20.12.9\n\rContinue?",
                                           "Congratulations\n\rYour Device successfully\n\rupdated"}));
        QCOMPARE(boxes.icons, (QList<QMessageBox::Icon>{QMessageBox::Warning, QMessageBox::Information}));
        for (const char* step : {"Step 1 of 5: Start BOOT", "Step 2 of 5: Writing Firmware Programm",
                                 "Step 3 of 5: Starting updated Programm", "Step 4 of 5: Writing Firmware Data",
                                 "Step 5 of 5: Reset Device"})
            QVERIFY2(statuses.contains(step), step);
        QVERIFY(locked);
        QVERIFY(progressed);
        QVERIFY(busyShown);
        QVERIFY(window.PageWidget(Page::DeviceInfo)->isEnabled());
        QVERIFY(window.PageWidget(Page::Measuring)->isEnabled());
        const QString log = window.Log()->Text();
        QVERIFY(log.contains("# VERIFY TRV8: OK 57344 bytes"));
        QVERIFY(log.contains("# VERIFY EFL: OK 311296 bytes"));
        // The progress lines replaced the last line of the view: only the last of each is left.
        QVERIFY(log.contains("# Written: 100%"));
        QVERIFY(log.contains("# ЗАПИСЬ: 100% 304Кб [>>>>>>>>>>>>>>>>>>>>>>>>>]"));
        QVERIFY(!log.contains("#  Written: 0%"));
        // The report file and the upload carry the view's lines, not the first progress texts.
        QString kept;
        for (const std::string& line : context.log.Lines()) kept += QString::fromStdString(line) + "\n";
        QCOMPARE(kept, log + "\n");

        // Found and identified afresh; the device page shows it again with its button.
        QVERIFY(QTest::qWaitFor([&] { return context.tick.DeviceRecognised() && upgrade->isEnabled(); }, 15000));
        QVERIFY(window.DeviceInfo()->Text().contains("SW MAIN: 1.20.12.9"));
        QFile screen(QString::fromStdString(folder.File("screen.txt")));
        QVERIFY(screen.open(QIODevice::ReadOnly));
        const QStringList screenLines = QString::fromUtf8(screen.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(screenLines.front(), QString("PC_CONNECTION COM 7"));
        QCOMPARE(screenLines.back(), QString("PC_PRINT {Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE"));
        window.close();
    }
};

QTEST_MAIN(FirmwareWindowTest)
#include "firmware_window_test.moc"
