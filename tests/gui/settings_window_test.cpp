// The settings page in the window on the offscreen platform, against a simulated R630: shown
// only for its family, Read into the controls, the units rebuilding the threshold list, the K
// box dropping other keys, captions and lists switched with the language, Save with its two
// questions while the pages are disabled, and the plain manual-connection caption.
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <deque>

#include "app/pages.h"
#include "gui/main_window.h"
#include "gui/qt_ui_port.h"
#include "gui/settings_page_widget.h"
#include "support/sim_fixture.h"
#include "window_folders.h"

using namespace kalvo;

namespace {

// Answers each message box from a script (Yes or OK when it runs out) and keeps what it saw.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QWidget* pages) : pages_(pages) { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }
    QStringList texts;
    QList<QMessageBox::Icon> icons;
    QList<bool> pagesEnabled;
    std::deque<QMessageBox::StandardButton> answers;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            icons << box->icon();
            pagesEnabled << pages_->isEnabled();
            QMessageBox::StandardButton answer = box->button(QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
            if (!answers.empty()) {
                answer = answers.front();
                answers.pop_front();
            }
            QMetaObject::invokeMethod(box, [box, answer] { box->button(answer)->click(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget* pages_;
};

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT

private slots:
    void readChangeSwitchLanguageAndSave() {
        test::TempFolder folder;
        test::PrepareWindowFolders(folder, 2, int(Page::SettingsR630));
        QtUiPort ui;
        AppContext context(ui, PortDirectory(folder.File("ports"), false));
        MainWindow window(context, ui);
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.TabVisible(Page::SettingsR630));
        QVERIFY(!window.TabVisible(Page::SettingsR520));

        test::SimFixture sim;
        QVERIFY(QTest::qWaitFor([&] {
            window.Timer_ProcTimer();
            return context.connection.ScanList().FirstScanDone();
        }, 5000));
        std::filesystem::create_directories(folder.File("ports"));
        auto device = sim.StartSimIn(folder.File("ports"), 7, {"--baud", "0", "--param", "7=20", "--param", "21=5"});
        QVERIFY(QTest::qWaitFor([&] { return context.tick.DeviceRecognised() && window.TabVisible(Page::SettingsR630); },
                                10000));
        QVERIFY(!window.TabVisible(Page::SettingsR520));
        SettingsPageWidget* page = window.SettingsR630();
        QTabWidget* tabs = window.PageControl();
        tabs->setCurrentWidget(page);
        QCOMPARE(tabs->tabText(int(Page::SettingsR630)), QString("Settings"));
        QCOMPARE(page->findChild<QLabel*>("Label_Setup_R630_Units")->text(), QString("Units of Measurement"));
        QCOMPARE(page->Button("Calibr_Save")->text(), QString("Save Calibration"));
        QCOMPARE(page->CalibrationBox()->text(), QString("1,27"));
        QCOMPARE(page->CalibrationBox()->maxLength(), 10);
        QVERIFY(page->CalibrationBox()->font().bold());
        QVERIFY(page->TimeBox()->isReadOnly());
        QVERIFY(page->Box("alarm_hour")->isEditable());
        QVERIFY(!page->Box("units")->isEditable());
        QCOMPARE(page->Box("units")->currentIndex(), -1);

        BoxAnswerer boxes(tabs);
        page->Button("Read")->click();
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(page->Box("units")->currentText(), QString("Sievert"));
        QCOMPARE(page->Box("fon_level")->currentIndex(), -1);
        QCOMPARE(page->Box("dose_level")->currentText(), QString("100 Sv"));
        QCOMPARE(page->Box("alarm_hour")->currentText(), QString("5"));
        QCOMPARE(page->Box("screen_off")->count(), 61);
        QVERIFY(page->Check("sound")->isChecked());
        QVERIFY(page->TimeBox()->text().startsWith("["));
        QVERIFY(tabs->isEnabled());

        // Index 8, then roentgen: the same index now reads 120 uR/h.
        page->Box("fon_level")->setCurrentIndex(8);
        QCOMPARE(page->Box("fon_level")->currentText(), QString("1,2 uSv/h"));
        page->Box("units")->setCurrentIndex(1);
        QCOMPARE(page->Box("fon_level")->currentText(), QString("120 uR/h"));
        QCOMPARE(page->Model().Form().fonLevel.index, 8);

        // The K box takes digits, separators and control keys only.
        page->CalibrationBox()->setFocus();
        page->CalibrationBox()->selectAll();
        QTest::keyClick(page->CalibrationBox(), Qt::Key_Backspace);
        QTest::keyClicks(page->CalibrationBox(), "1a,");
        for (const char* cyrillic : {"ж", "Б"}) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(cyrillic));
            QApplication::sendEvent(page->CalibrationBox(), &press);
        }
        QTest::keyClicks(page->CalibrationBox(), "5 ");
        QCOMPARE(page->CalibrationBox()->text(), QString("1,5"));
        // Delete is an editing key, though X11 gives it the text U+007F.
        page->CalibrationBox()->setCursorPosition(1);
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7F)));
        QApplication::sendEvent(page->CalibrationBox(), &del);
        QCOMPARE(page->CalibrationBox()->text(), QString("15"));
        QTest::keyClick(page->CalibrationBox(), Qt::Key_Comma);
        QCOMPARE(page->Model().Form().calibrationText, std::string("1,5"));

        // Russian: captions, list texts and selections, the tab, the plain manual caption.
        window.ToggleLanguage();
        QCOMPARE(tabs->tabText(int(Page::SettingsR630)), QString::fromUtf8("Настройки"));
        QCOMPARE(page->findChild<QLabel*>("Label_Setup_R630_Units")->text(), QString::fromUtf8("Единицы измерения"));
        QCOMPARE(page->findChild<QGroupBox*>("GroupBox_Setup_R630_Sound")->title(), QString::fromUtf8("Настрока звука"));
        QCOMPARE(page->Check("sensor_click")->text(), QString::fromUtf8("Щелчки датчика"));
        QCOMPARE(page->Box("units")->currentText(), QString::fromUtf8("Рентген"));
        QCOMPARE(page->Box("fon_level")->currentText(), QString::fromUtf8("120 мкР/ч"));
        QCOMPARE(page->Box("language")->currentText(), QString::fromUtf8("Русский"));
        QCOMPARE(page->CalibrationBox()->text(), QString("1,5"));
        QCOMPARE(window.Action("Action_Connection_Manual")->text(), QString::fromUtf8("Вручную"));

        // Save: the question, the writes, the restart question in a warning box answered No.
        boxes.answers = {QMessageBox::Yes, QMessageBox::No};
        page->Button("Write")->click();
        QCOMPARE(boxes.texts, (QStringList{QString::fromUtf8("Будут записаны настройки\n\rПродолжить?"),
                                           QString::fromUtf8("Настройки успешно сохранены\n\rРекомендуется "
                                                             "перезагрузить прибор\n\rСделать это сейчас?")}));
        QCOMPARE(boxes.icons.back(), QMessageBox::Warning);
        QCOMPARE(boxes.pagesEnabled, (QList<bool>{false, false}));
        QVERIFY(tabs->isEnabled());
        QVERIFY(context.connection.linkTestEnabled);

        // Read back what was written.
        page->Box("units")->setCurrentIndex(0);
        page->Button("Read")->click();
        QCOMPARE(page->Box("units")->currentText(), QString::fromUtf8("Рентген"));
        QCOMPARE(page->Box("fon_level")->currentText(), QString::fromUtf8("120 мкР/ч"));
        QCOMPARE(page->CalibrationBox()->text(), QString("1,27"));  // K is not saved with the settings
        window.close();
    }

    // A close during a save is refused; a termination signal then ends the save between two
    // parameters, and the window closes with a report log that says what was left unwritten.
    void aCloseDuringASaveIsRefusedAndASignalStopsItSafely() {
        test::TempFolder folder;
        test::PrepareWindowFolders(folder, 2, int(Page::SettingsR630));
        QtUiPort ui;
        AppContext context(ui, PortDirectory(folder.File("ports"), false));
        MainWindow window(context, ui);
        bool signalClosed = false;
        window.onSignalClose = [&] { signalClosed = true; };
        QVERIFY(window.FormCreate());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        test::SimFixture sim;
        QVERIFY(QTest::qWaitFor([&] {
            window.Timer_ProcTimer();
            return context.connection.ScanList().FirstScanDone();
        }, 5000));
        std::filesystem::create_directories(folder.File("ports"));
        auto device = sim.StartSimIn(folder.File("ports"), 7, {"--baud", "0", "--delay-ms", "40"});
        QVERIFY(QTest::qWaitFor([&] { return context.tick.DeviceRecognised() && window.TabVisible(Page::SettingsR630); },
                                10000));
        SettingsPageWidget* page = window.SettingsR630();
        window.PageControl()->setCurrentWidget(page);
        BoxAnswerer boxes(window.PageControl());
        page->Button("Read")->click();
        QVERIFY(boxes.texts.isEmpty());

        auto writes = [](const std::vector<std::string>& lines) {
            return std::count_if(lines.begin(), lines.end(),
                                 [](const std::string& line) { return line.rfind("Write PAR[", 0) == 0; });
        };
        bool refused = false;
        QTimer during;
        during.setInterval(5);
        connect(&during, &QTimer::timeout, this, [&] {
            if (writes(context.log.Lines()) < 2) return;
            during.stop();
            window.close();
            refused = window.isVisible();
            window.StopSignalled(SIGTERM);
        });
        during.start();
        page->Button("Write")->click();
        QVERIFY(refused);
        QVERIFY(QTest::qWaitFor([&] { return signalClosed; }, 5000));
        QVERIFY(!window.isVisible());
        // Only the first question: no error box and no restart question after the stop.
        QCOMPARE(boxes.texts, QStringList{"Save Settings\n\rContinue?"});

        const std::vector<std::string> log =
            test::SplitLines(test::ReadFile(folder.File("runtime/trv8_kalvo_explorer/log.txt")));
        const long written = writes(log);
        QVERIFY(written >= 2 && written < 15);
        auto stopped = std::find_if(log.begin(), log.end(), [](const std::string& line) {
            return line.rfind("# ERROR: \"Save Settings stopped: not written PAR[", 0) == 0;
        });
        QVERIFY(stopped != log.end());
        QVERIFY2(stopped->find(" (" + std::to_string(written) + " of 15 written)\"") != std::string::npos, stopped->c_str());
        // The stop comes right after the last write, and the end frame follows.
        QVERIFY((stopped - 1)->rfind("Write PAR[", 0) == 0);
        QVERIFY((stopped + 2)->rfind("# END: ", 0) == 0);
        QCOMPARE(log.back(), std::string(42, '#'));
        QCOMPARE(std::count(log.begin(), log.end(), std::string("==> Device Reset to TRV8")), 0);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "settings_window_test.moc"
