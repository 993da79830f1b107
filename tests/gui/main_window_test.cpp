// The main window on the offscreen platform: captions in both languages, the stored options,
// tab visibility, the status styles, and a simulated device found and identified.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QtTest>

#include "app/pages.h"
#include "gui/device_info_page.h"
#include "gui/main_window.h"
#include "gui/measuring_page.h"
#include "gui/qt_ui_port.h"
#include "support/sim_fixture.h"
#include "window_folders.h"

using namespace kalvo;

class MainWindowTest : public QObject {
    Q_OBJECT

    // Each case gets fresh folders for options, runtime files and ports.
    std::unique_ptr<test::TempFolder> folder_;
    std::unique_ptr<QtUiPort> ui_;
    std::unique_ptr<AppContext> context_;
    std::unique_ptr<MainWindow> window_;

    void Fresh(std::optional<int> language = std::nullopt, std::optional<int> page = std::nullopt) {
        window_.reset();
        context_.reset();
        folder_ = std::make_unique<test::TempFolder>();
        test::PrepareWindowFolders(*folder_, language, page);
        ui_ = std::make_unique<QtUiPort>();
        context_ = std::make_unique<AppContext>(*ui_, PortDirectory(folder_->File("ports"), false));
        window_ = std::make_unique<MainWindow>(*context_, *ui_);
        QVERIFY(window_->FormCreate());
    }

    int StoredLanguage() {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KALVO", "TRV8");
        return settings.value("MANAGER/OPTIONS/LANGUAGE", -1).toInt();
    }

    QStringList MenuTitles() {
        QStringList titles;
        for (QAction* action : window_->menuBar()->actions())
            if (action->isVisible()) titles << action->text();
        return titles;
    }

private slots:
    void cleanup() {
        window_.reset();
        context_.reset();
        folder_.reset();
    }

    void firstRunIsRussianOnTheFirstPage() {
        Fresh();
        QCOMPARE(window_->windowTitle(), QString("Kalvo Explorer 1.7 (15.09.2024)"));
        QCOMPARE(window_->LanguageCaption(), QString("RUS"));
        QCOMPARE(window_->PageControl()->currentIndex(), 0);
        QCOMPARE(MenuTitles(), (QStringList{"Файл", "Настройки", "Помощь"}));
        QCOMPARE(window_->PageControl()->tabText(0), QString("Измерение"));
        QCOMPARE(window_->StatusPanel()->text(), QString("Ожидание соединения"));
        QVERIFY(!window_->TabVisible(Page::Log));
        QVERIFY(!window_->TabVisible(Page::SettingsR630));
        QVERIFY(!window_->TabVisible(Page::SettingsR520));
        QVERIFY(window_->minimumSize() == QSize(768, 272));
    }

    void togglingSwitchesEveryCaptionAndStoresTheChoice() {
        Fresh();
        window_->ToggleLanguage();
        QCOMPARE(window_->LanguageCaption(), QString("ENG"));
        QCOMPARE(StoredLanguage(), 2);
        QCOMPARE(MenuTitles(), (QStringList{"File", "Settings", "Help"}));
        QCOMPARE(window_->PageControl()->tabText(int(Page::Measuring)), QString("Measurement"));
        QCOMPARE(window_->PageControl()->tabText(int(Page::History)), QString("History"));
        QCOMPARE(window_->PageControl()->tabText(int(Page::DeviceInfo)), QString("About Device"));
        QCOMPARE(window_->PageControl()->tabText(int(Page::Log)), QString("Log"));
        QCOMPARE(window_->Action("Action_Exit")->text(), QString("Exit"));
        QCOMPARE(window_->Action("Action_Connection_Auto")->text(), QString("Auto"));
        QCOMPARE(window_->Action("Action_Help_About")->text(), QString("About Programm"));
        QCOMPARE(window_->Action("Action_Log_Visible")->text(), QString("Show Report"));
        QCOMPARE(window_->DeviceInfo()->RenewButton()->text(), QString("Upgrade"));
        QCOMPARE(window_->windowTitle(), QString("Kalvo Explorer 1.7 (15.09.2024)"));

        window_->ToggleLanguage();
        QCOMPARE(window_->LanguageCaption(), QString("RUS"));
        QCOMPARE(StoredLanguage(), 1);
        QCOMPARE(window_->Action("Action_Log_Visible")->text(), QString("Показать лог"));
        window_->Action_Log_VisibleExecute();
        QVERIFY(window_->TabVisible(Page::Log));
        QCOMPARE(window_->Action("Action_Log_Visible")->text(), QString("Cкрыть лог"));  // Latin C

        // Pictures of the items that change them: log shown/hidden, language, data source.
        auto image = [this](const char* name) { return window_->Action(name)->property(MainWindow::kImageIndex).toInt(); };
        QCOMPARE(image("Action_Log_Visible"), 3);
        window_->Action_Log_VisibleExecute();
        QCOMPARE(image("Action_Log_Visible"), 2);
        QCOMPARE(image("Action_Language"), 10);
        window_->ToggleLanguage();
        QCOMPARE(image("Action_Language"), 11);
        QCOMPARE(image("Action_Data_Source"), 6);
        window_->Action("Action_Data_Source_Local")->trigger();
        QCOMPARE(image("Action_Data_Source"), 8);
        QVERIFY(!window_->Action("Action_Data_Source_Internet")->isChecked());
        window_->Action("Action_Data_Source_Internet")->trigger();
        QCOMPARE(image("Action_Data_Source"), 6);
    }

    void storedOptionsAndTheirDefaults() {
        Fresh(7, 1);
        QCOMPARE(window_->LanguageCaption(), QString("RUS"));
        QCOMPARE(window_->PageControl()->currentIndex(), int(Page::History));
        window_->ToggleLanguage();
        QCOMPARE(StoredLanguage(), 2);

        Fresh(2, 99);  // too large: the last page, whose tab is hidden, gives way
        QCOMPARE(window_->LanguageCaption(), QString("ENG"));
        QCOMPARE(window_->PageControl()->currentIndex(), int(Page::DeviceInfo));

        Fresh(1, int(Page::SettingsR630));
        QCOMPARE(window_->PageControl()->currentIndex(), int(Page::DeviceInfo));

        window_->PageControl()->setCurrentIndex(int(Page::History));
        window_->FormDestroy();
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "KALVO", "TRV8");
        QCOMPARE(settings.value("MANAGER/OPTIONS/PAGENUM").toInt(), int(Page::History));
    }

    void statusStyles() {
        Fresh();
        const QPalette neutral = window_->StatusPanel()->palette();
        window_->ShowStatus("R630", 1);
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::Window), QColor(0, 128, 0));
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::WindowText), QColor(Qt::white));
        QVERIFY(window_->StatusPanel()->font().bold());
        window_->ShowStatus("?", 2);
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::Window), QColor(Qt::red));
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::WindowText), QColor(Qt::yellow));
        window_->ShowStatus("!", 3);
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::Window), QColor(Qt::yellow));
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::WindowText), QColor(Qt::blue));
        window_->ShowStatus("x", 9);  // taken as 0
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::Window), neutral.color(QPalette::Window));
        QVERIFY(!window_->StatusPanel()->font().bold());
        QCOMPARE(window_->StatusPanel()->text(), QString("x"));
    }

    void aSimulatedR630IsFoundIdentifiedAndLost() {
        Fresh(2);
        test::SimFixture sim;
        // Ports present at the first scan are not tried: let the first scan happen without it.
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->connection.ScanList().FirstScanDone();
        }, 5000));
        std::filesystem::create_directories(folder_->File("ports"));
        auto device = sim.StartSimIn(folder_->File("ports"), 7, {"--serial", "12345678"});
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->tick.DeviceRecognised();
        }, 10000));
        QCOMPARE(window_->ComPanel()->text(), QString("COM 7"));
        QVERIFY(window_->StatusPanel()->text().endsWith(" S/N: 123-45678"));
        QCOMPARE(window_->StatusPanel()->palette().color(QPalette::Window), QColor(0, 128, 0));
        QVERIFY(window_->TabVisible(Page::SettingsR630));
        QVERIFY(!window_->TabVisible(Page::SettingsR520));
        QVERIFY(window_->DeviceInfo()->RenewButton()->isEnabled());
        QVERIFY(window_->DeviceInfo()->Text().startsWith("Connected Device Information"));

        // The measuring page reads once a second while it is shown, and clears when left.
        window_->PageControl()->setCurrentIndex(int(Page::Measuring));
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return window_->Measuring()->DoseLabel()->text().endsWith(" uSv");
        }, 5000));
        QVERIFY(window_->Measuring()->RateLabel()->text().endsWith(" uSv/h"));
        QVERIFY(window_->Measuring()->Notice()->text().isEmpty());
        QVERIFY(!window_->Measuring()->ReadButton()->isEnabled());
        window_->Measuring()->AutoRead()->click();
        QVERIFY(window_->Measuring()->ReadButton()->isEnabled());
        window_->Timer_ProcTimer();
        window_->Timer_ProcTimer();
        QCOMPARE(window_->Measuring()->RateLabel()->text(), QString("--------"));
        window_->Measuring()->ReadButton()->click();
        QVERIFY(window_->Measuring()->RateLabel()->text().endsWith(" uSv/h"));

        device.reset();  // unplugged
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return !context_->tick.DeviceRecognised();
        }, 10000));
        QCOMPARE(window_->StatusPanel()->text(), QString("Waiting Connection"));
        QVERIFY(!window_->TabVisible(Page::SettingsR630));
        QVERIFY(window_->DeviceInfo()->Text().isEmpty());
        QVERIFY(!window_->DeviceInfo()->RenewButton()->isEnabled());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
