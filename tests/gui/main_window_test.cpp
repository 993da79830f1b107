// The main window on the offscreen platform: captions in both languages, the stored options,
// tab visibility, the status styles, and a simulated device found and identified.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "app/pages.h"
#include "app/trend_threshold.h"
#include "gui/device_info_page.h"
#include "gui/live_trend_widget.h"
#include "gui/main_window.h"
#include "gui/measuring_page.h"
#include "gui/qt_ui_port.h"
#include "gui/settings_page_widget.h"
#include "live/live_csv.h"
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

    // A simulated R630 plugged in after the window's first scan (ports present at it are not
    // tried), recognised with its settings tab shown; null when that does not happen in time.
    std::unique_ptr<test::Process> PlugInR630(test::SimFixture& sim) {
        const bool scanned = QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->connection.ScanList().FirstScanDone();
        }, 5000);
        if (!scanned) return nullptr;
        std::filesystem::create_directories(folder_->File("ports"));
        auto device = sim.StartSimIn(folder_->File("ports"), 7, {"--serial", "12345678"});
        const bool recognised = QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->tick.DeviceRecognised() && window_->TabVisible(Page::SettingsR630);
        }, 10000);
        return recognised ? std::move(device) : nullptr;
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
        auto device = PlugInR630(sim);
        QVERIFY(device);
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

    // The trend below the values: what the simulator read, the statistics of the shown span with
    // the threshold of the settings read from it, the span list, Save CSV and the language.
    void theTrendShowsTheReadingsWithStatisticsAndSavesThem() {
        Fresh(2);
        window_->show();
        // Readings five minutes apart, so that the spans differ after a few of them.
        context_->wallClockMs = [stamp = std::int64_t{1'700'000'000'000}]() mutable { return stamp += 5 * 60 * 1000; };
        test::SimFixture sim;
        auto device = PlugInR630(sim);
        QVERIFY(device);
        window_->PageControl()->setCurrentIndex(int(Page::SettingsR630));
        window_->SettingsR630()->Button("Read")->click();
        const std::optional<double> threshold = BackgroundThreshold(window_->SettingsR630()->Model().Form(), 0);
        QVERIFY(threshold.has_value());

        // A reading may have come in the ticks before the settings page was shown: not this test's.
        context_->trend.Clear();
        window_->Timer_ProcTimer();
        MeasuringPageWidget& page = *window_->Measuring();
        LiveTrendWidget& trend = *page.Trend();
        QCOMPARE(page.Statistics()->text(), QString("No readings"));
        QVERIFY(!page.SaveButton()->isEnabled());
        window_->PageControl()->setCurrentIndex(int(Page::Measuring));
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->trend.Readings().size() >= 4;
        }, 15000));
        window_->Measuring()->AutoRead()->click();  // no more readings while the page is checked
        window_->Timer_ProcTimer();

        const auto all = context_->trend.Readings();
        QCOMPARE(trend.Threshold(), threshold);
        auto expectedText = [&](std::span<const LiveReading> shown) {
            const TrendStatistics s = ComputeStatistics(shown, threshold);
            const std::int64_t above = s.aboveMs / 1000;
            return QString("Mean %1, minimum %2, maximum %3, deviation %4 uSv/h; readings %5; above threshold %6:%7:%8")
                .arg(QString::number(s.mean, 'f', 3).replace('.', ','), QString::fromStdString(LiveValueText(0, s.minimum)),
                     QString::fromStdString(LiveValueText(0, s.maximum)),
                     QString::number(s.deviation, 'f', 3).replace('.', ','), QString::number(s.count))
                .arg(above / 3600)
                .arg(above / 60 % 60, 2, 10, QChar('0'))
                .arg(above % 60, 2, 10, QChar('0'));
        };
        // Ten minutes: the newest reading and the one ten minutes before it.
        QCOMPARE(page.SpanBox()->currentText(), QString("10 minutes"));
        QCOMPARE(trend.Shown().size(), std::size_t(3));
        QCOMPARE(trend.Shown().data(), all.data() + all.size() - 3);
        QCOMPARE(page.Statistics()->text(), expectedText(trend.Shown()));
        // Every reading of the span falls in a column of its own at its time; the window as it
        // opens leaves the trend a plot to read.
        QCoreApplication::processEvents();
        QVERIFY2(trend.PlotArea().width() > 400 && trend.PlotArea().height() > 150,
                 qPrintable(QString("plot %1x%2").arg(trend.PlotArea().width()).arg(trend.PlotArea().height())));
        const auto columns = DecimateColumns(trend.Shown(), trend.FromMs(), trend.ToMs(), trend.PlotArea().width());
        QCOMPARE(std::count_if(columns.begin(), columns.end(), [](const TrendColumn& c) { return c.count == 1; }), 3);
        QCOMPARE(columns.back().maximum, all.back().value);

        page.SpanBox()->setCurrentIndex(1);
        QCOMPARE(trend.Span(), TrendSpan::OneHour);
        QCOMPARE(trend.Shown().size(), std::min(all.size(), std::size_t(13)));
        QCOMPARE(page.Statistics()->text(), expectedText(trend.Shown()));

        // Save CSV writes the shown readings, offering the page's own title.
        std::string title;
        const std::string file = folder_->File("trend.csv");
        page.SetFileChooser([&](const CsvSaveDialog& dialog) -> std::optional<std::string> {
            title = dialog.title;
            return file;
        });
        QVERIFY(page.SaveButton()->isEnabled());
        page.SaveButton()->click();
        QCOMPARE(title, std::string("CSV Measurements saving"));
        std::ifstream in(file, std::ios::binary);
        const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        QCOMPARE(written, LiveCsvText(trend.Shown()));

        window_->ToggleLanguage();
        QCOMPARE(page.SpanBox()->currentText(), QString("1 час"));
        QCOMPARE(page.SaveButton()->text(), QString("Сохранить CSV"));
        QVERIFY(page.Statistics()->text().startsWith("Среднее "));
        QVERIFY(page.Statistics()->text().contains(" мкЗв/ч; измерений "));
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
