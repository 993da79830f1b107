// The history page on the offscreen platform: the chart widget's bars and double clicks, the idle
// page, and a simulated R630's history downloaded, navigated through every level, drilled into,
// saved as CSV and cancelled, with the main page held while the download runs; the notice of an
// unsupported firmware; the archive of every download shown and saved instead of the last one.
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QTabBar>
#include <QtTest>
#include <set>

#include "app/pages.h"
#include "archive/history_archive.h"
#include "gui/history_chart_widget.h"
#include "gui/history_page.h"
#include "gui/main_window.h"
#include "gui/qt_ui_port.h"
#include "history/calendar.h"
#include "history/history_csv.h"
#include "support/sim_fixture.h"
#include "window_folders.h"

using namespace kalvo;

namespace {

// Answers every message box as it comes up and keeps its text.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok) : answer_(answer) {
        qApp->installEventFilter(this);
    }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }

    QStringList texts;

protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(object);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            QMessageBox::StandardButton answer = box->button(answer_) ? answer_ : QMessageBox::Ok;
            QMetaObject::invokeMethod(box, [box, answer] { box->button(answer)->click(); }, Qt::QueuedConnection);
        }
        return false;
    }

private:
    QMessageBox::StandardButton answer_;
};

ChartBar Bar(const char* label, ChartPoint series1, ChartPoint series2, ChartPoint series3) {
    ChartBar bar;
    bar.label = label;
    bar.series1 = series1;
    bar.series2 = series2;
    bar.series3 = series3;
    return bar;
}

QString Title(const HistoryChartWidget* chart, std::size_t line) {
    const auto& title = chart->Model().title;
    return line < title.size() ? QString::fromStdString(title[line]) : QString();
}

QString Two(unsigned value) { return QString::fromStdString(TwoDigitText(value)); }

}  // namespace

class HistoryPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> folder_;
    std::unique_ptr<test::SimFixture> sim_;
    std::unique_ptr<test::Process> device_;
    std::unique_ptr<QtUiPort> ui_;
    std::unique_ptr<AppContext> context_;
    std::unique_ptr<MainWindow> window_;

    HistoryPageWidget* Page() const { return window_->History(); }
    HistoryChartWidget* Chart() const { return window_->History()->Chart(); }

    void Fresh(int language) {
        window_.reset();
        context_.reset();
        folder_ = std::make_unique<test::TempFolder>();
        test::PrepareWindowFolders(*folder_, language, int(Page::History));
        ui_ = std::make_unique<QtUiPort>();
        context_ = std::make_unique<AppContext>(*ui_, PortDirectory(folder_->File("ports"), false));
        window_ = std::make_unique<MainWindow>(*context_, *ui_);
        QVERIFY(window_->FormCreate());
        // Shown, so that the chart has its real size for the double clicks.
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

    // A simulated R630 plugged in after the first scan, as a user would, and identified.
    void Connect(std::vector<std::string> extra = {}) {
        sim_ = std::make_unique<test::SimFixture>();
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->connection.ScanList().FirstScanDone();
        }, 5000));
        std::filesystem::create_directories(folder_->File("ports"));
        // A fixed clock: a leap February, well inside its day.
        std::vector<std::string> options{"--baud", "0", "--clock", "2024-02-20 13:45:30"};
        options.insert(options.end(), extra.begin(), extra.end());
        device_ = sim_->StartSimIn(folder_->File("ports"), 7, options);
        QVERIFY(QTest::qWaitFor([&] {
            window_->Timer_ProcTimer();
            return context_->tick.DeviceRecognised();
        }, 10000));
    }

    void Download() {
        Page()->ReadButton()->click();
        QVERIFY(context_->history.Loaded());
    }

    // A double click on bar `index`, found through BarAt.
    void DoubleClickBar(int index) {
        QPoint point = Chart()->BarRect(index).center().toPoint();
        QCOMPARE(Chart()->BarAt(point), index);
        QTest::mouseDClick(Chart(), Qt::LeftButton, {}, point);
    }

private slots:
    void cleanup() {
        window_.reset();
        context_.reset();
        device_.reset();
        sim_.reset();
        folder_.reset();
    }

    void chartFindsTheBarUnderThePoint() {
        HistoryChartWidget chart;
        QCOMPARE(chart.objectName(), QString("Chart_History"));
        chart.resize(600, 260);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));

        ChartModel model;
        model.title = {"Hostory for Day : 07.12.2026", "uR/h  K = 1,00"};
        model.level = HistoryLevel::Day;
        model.bars = {
            Bar("0", {1, BarColour::Fuchsia}, {12, BarColour::Lime}, {1, BarColour::Green}),
            Bar("1", {30, BarColour::Yellow}, {14, BarColour::Lime}, {1, BarColour::Fuchsia}),
            Bar("2", {1, BarColour::Blue}, {1, BarColour::Blue}, {1, BarColour::Blue}),
            // A marker taller than the bar it marks does not answer.
            Bar("3", {1, BarColour::Fuchsia}, {0, BarColour::Lime}, {20, BarColour::Green}),
        };
        chart.SetModel(model);
        QCOMPARE(chart.Model().title.size(), std::size_t{2});
        QCOMPARE(chart.Model().bars.size(), std::size_t{4});

        for (int i = 0; i < 4; ++i) {
            QRectF bar = chart.BarRect(i);
            QVERIFY(!bar.isEmpty());
            QCOMPARE(chart.BarAt(bar.center().toPoint()), i);
            QCOMPARE(chart.BarAt(QPoint(int(bar.center().x()), int(bar.bottom()) - 1)), i);  // over the marker
        }
        QVERIFY(chart.BarRect(4).isEmpty());
        QRectF first = chart.BarRect(0), second = chart.BarRect(1);
        QCOMPARE(chart.BarAt(QPoint(int((first.right() + second.left()) / 2), int(first.center().y()))), -1);
        QCOMPARE(chart.BarAt(QPoint(int(first.center().x()), int(first.top()) - 4)), -1);
        // The maximum behind the average answers above the average's top.
        QVERIFY(second.height() > 2 * first.height());
        QCOMPARE(chart.BarAt(QPoint(int(second.center().x()), int(second.top()) + 2)), 1);
        QRectF stub = chart.BarRect(3);
        QCOMPARE(chart.BarAt(QPoint(int(stub.center().x()), int(stub.top()) - 6)), -1);

        QSignalSpy clicked(&chart, &HistoryChartWidget::BarDoubleClicked);
        QTest::mouseDClick(&chart, Qt::LeftButton, {}, chart.BarRect(2).center().toPoint());
        QTest::mouseDClick(&chart, Qt::LeftButton, {}, QPoint(int(first.center().x()), int(first.top()) - 4));
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toInt(), 2);
        QVERIFY(!chart.grab().isNull());
    }

    void idlePageRefusesToSaveAndFailsToReadWithoutADevice() {
        Fresh(2);
        HistoryPageWidget* page = Page();
        QCOMPARE(window_->PageWidget(Page::History), static_cast<QWidget*>(page));
        QCOMPARE(page->objectName(), QString("TabSheet_DevHistory"));
        QCOMPARE(window_->PageControl()->currentIndex(), int(Page::History));
        for (const char* name : {"BitBtn_HIS_Read", "BitBtn_HIS_Delete", "BitBtn_HIS_Save_CSV", "BitBtn_HIS_Back",
                                 "BitBtn_HIS_Up", "BitBtn_HIS_Vpered", "BitBtn_HIS_To_Last"})
            QVERIFY2(page->findChild<QPushButton*>(name), name);
        QVERIFY(page->findChild<QProgressBar*>("ProgressBar_HIS_Read"));
        QVERIFY(page->findChild<QLabel*>("Label_HIS_Version_Msg"));
        QVERIFY(page->findChild<QCheckBox*>("CheckBox_HIS_Show_MaxVal"));
        QCOMPARE(page->NavigationPanel()->objectName(), QString("Panel_HIS_Buttons"));

        QCOMPARE(page->ReadButton()->text(), QString("Read"));
        QCOMPARE(page->DeleteButton()->text(), QString("Delete History"));
        QCOMPARE(page->SaveButton()->text(), QString("Save CSV"));
        QCOMPARE(page->BackButton()->text(), QString("Back"));
        QCOMPARE(page->UpButton()->text(), QString("Up"));
        QCOMPARE(page->ForwardButton()->text(), QString("Forward"));
        QCOMPARE(page->LastButton()->text(), QString("Last"));
        QCOMPARE(page->ShowMaximum()->text(), QString("Show maximum"));
        QVERIFY(!page->NavigationPanel()->isEnabled());
        QVERIFY(page->DeleteButton()->isEnabled());
        QVERIFY(page->SaveButton()->isEnabled());
        QVERIFY(!page->ShowMaximum()->isChecked());
        QCOMPARE(Title(Chart(), 0), QString("-----------"));
        QVERIFY(Chart()->Model().bars.empty());

        window_->ToggleLanguage();
        QCOMPARE(page->ReadButton()->text(), QString("Прочитать"));
        QCOMPARE(page->DeleteButton()->text(), QString("Удалить историю"));
        QCOMPARE(page->SaveButton()->text(), QString("Сохранить CSV"));
        QCOMPARE(page->ForwardButton()->text(), QString("Вперед"));
        QCOMPARE(page->LastButton()->text(), QString("В конец"));
        QCOMPARE(page->ShowMaximum()->text(), QString("Показывать всплески"));
        window_->ToggleLanguage();

        BoxAnswerer boxes;
        int chooserCalls = 0;
        page->SetFileChooser([&](const CsvSaveDialog&) {
            ++chooserCalls;
            return std::optional<std::string>(folder_->File("never.csv"));
        });
        page->SaveButton()->click();
        QCOMPARE(boxes.texts, QStringList{"First read History from Device"});
        QCOMPARE(chooserCalls, 0);

        // Not connected: the read fails; nothing is loaded and the panel stays off.
        page->ReadButton()->click();
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(boxes.texts.at(1), QString("Error of History reading"));
        QCOMPARE(page->ReadButton()->text(), QString("Read"));
        QVERIFY(!page->NavigationPanel()->isEnabled());
        QCOMPARE(Title(Chart(), 0), QString("Waiting of reading History"));
        QCOMPARE(Chart()->Model().title.size(), std::size_t{1});
        QVERIFY(window_->PageControl()->tabBar()->isEnabled());
    }

    void downloadHoldsThePageThenNavigatesEveryLevel() {
        Fresh(2);
        Connect();
        HistoryPageWidget* page = Page();
        QTabWidget* pages = window_->PageControl();

        // After every page of the download: what the page shows, and a page change tried.
        QStringList captions;
        QList<int> shownPages;
        QList<bool> tabBarEnabled, panelEnabled, saveEnabled, deleteEnabled;
        auto pageDone = context_->history.onPage;
        context_->history.onPage = [&](int done, int total) {
            pageDone(done, total);
            QCOMPARE(page->Progress()->maximum(), total);
            captions << page->ReadButton()->text();
            tabBarEnabled << pages->tabBar()->isEnabled();
            panelEnabled << page->NavigationPanel()->isEnabled();
            saveEnabled << page->SaveButton()->isEnabled();
            deleteEnabled << page->DeleteButton()->isEnabled();
            pages->setCurrentIndex(int(Page::Measuring));
            shownPages << pages->currentIndex();
            // The caption follows the language switch while the download runs.
            window_->ToggleLanguage();
            captions << page->ReadButton()->text();
            window_->ToggleLanguage();
        };
        Download();
        context_->history.onPage = pageDone;

        QVERIFY(!shownPages.isEmpty());
        QCOMPARE(captions.size(), 2 * shownPages.size());
        for (qsizetype i = 0; i < captions.size(); i += 2) {
            QCOMPARE(captions.at(i), QString("Cancel"));
            QCOMPARE(captions.at(i + 1), QString("Отмена"));
        }
        for (int shown : shownPages) QCOMPARE(shown, int(Page::History));
        for (bool enabled : tabBarEnabled + panelEnabled + saveEnabled + deleteEnabled) QVERIFY(!enabled);

        // Loaded: the minute chart of the download time, and the download in the archive.
        const auto& log = context_->log.Lines();
        const HistoryStore& store = context_->history.Store();
        std::uint32_t counted = 0;
        for (std::uint32_t i = 0; i < store.RecordCount(); ++i) counted += store.RecordAt(i)->Counts() ? 1 : 0;
        const std::string archived =
            "# ARCHIVE: " + std::to_string(counted) + " new records of 123-45678 (0 updated, 0 unchanged)";
        QVERIFY2(std::find(log.begin(), log.end(), archived) != log.end(), context_->log.LastLoggedLine().c_str());
        QVERIFY(std::filesystem::exists(folder_->File("data/kalvo/history.sqlite")));
        QCOMPARE(page->ReadButton()->text(), QString("Read"));
        QVERIFY(page->NavigationPanel()->isEnabled());
        QVERIFY(page->SaveButton()->isEnabled());
        QVERIFY(page->DeleteButton()->isEnabled());
        QVERIFY(pages->tabBar()->isEnabled());
        QCOMPARE(page->Progress()->value(), 0);
        const DeviceDateTime at = context_->history.DeviceTime();
        const QString date = QString::fromStdString(DateText(at));
        QCOMPARE(Chart()->Model().title.size(), std::size_t{2});
        QCOMPARE(Title(Chart(), 0),
                 QString("Hostory for Minute : %1-%2:%3").arg(date, Two(at.hour), Two(at.minute)));
        QVERIFY(Title(Chart(), 1).startsWith("uR/h  K = "));
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{6});

        // Up through the levels; nothing above the year.
        page->UpButton()->click();
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Hour : %1-%2").arg(date).arg(at.hour));
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{60});
        page->UpButton()->click();
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Day : %1").arg(date));
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{24});
        page->UpButton()->click();
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Month : 20%1-%2").arg(Two(at.year), Two(at.month)));
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{DaysInMonth(at.month, at.year)});
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{29});
        page->UpButton()->click();
        const QString yearTitle = QString("Hostory for Year : 20%1").arg(Two(at.year));
        QCOMPARE(Title(Chart(), 0), yearTitle);
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{12});
        page->UpButton()->click();
        QCOMPARE(Title(Chart(), 0), yearTitle);

        // Back and forward a year.
        page->BackButton()->click();
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Year : 20%1").arg(Two(at.year - 1u)));
        page->ForwardButton()->click();
        QCOMPARE(Title(Chart(), 0), yearTitle);

        // Down again by double clicks: the download's month, day, hour and minute.
        DoubleClickBar(at.month - 1);
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Month : 20%1-%2").arg(Two(at.year), Two(at.month)));
        DoubleClickBar(at.day - 1);
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Day : %1").arg(date));
        DoubleClickBar(at.hour);
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Hour : %1-%2").arg(date).arg(at.hour));
        DoubleClickBar(at.minute);
        QCOMPARE(Chart()->Model().level, HistoryLevel::Minute);
        QCOMPARE(Title(Chart(), 0),
                 QString("Hostory for Minute : %1-%2:%3").arg(date, Two(at.hour), Two(at.minute)));
        const std::string minuteTitle = Chart()->Model().title[0];
        DoubleClickBar(0);  // nothing below the minute
        QCOMPARE(Chart()->Model().title[0], minuteTitle);

        // The maxima appear in yellow, never below the average.
        page->UpButton()->click();
        page->UpButton()->click();
        page->ShowMaximum()->click();
        QVERIFY(context_->history.ChartState().showMaximum);
        int covered = 0;
        for (const ChartBar& bar : Chart()->Model().bars) {
            if (bar.coverage == BarCoverage::Empty) continue;
            ++covered;
            QCOMPARE(bar.series1.colour, BarColour::Yellow);
            QVERIFY(bar.series1.value >= bar.series2.value);
        }
        QVERIFY(covered > 0);
        page->ShowMaximum()->click();
        QVERIFY(!page->ShowMaximum()->isChecked());

        // Last: the minute of the download again; the main page may change again.
        page->LastButton()->click();
        QCOMPARE(Chart()->Model().title[0], minuteTitle);
        pages->setCurrentIndex(int(Page::Measuring));
        QCOMPARE(pages->currentIndex(), int(Page::Measuring));
    }

    void savesTheCsvToTheChosenFileAndOffersItAgain() {
        Fresh(2);
        Connect();
        Download();
        HistoryPageWidget* page = Page();

        const std::string path = folder_->File("history.csv");
        QList<CsvSaveDialog> offered;
        std::optional<std::string> answer = path;
        page->SetFileChooser([&](const CsvSaveDialog& dialog) {
            offered << dialog;
            return answer;
        });
        BoxAnswerer boxes(QMessageBox::Yes);
        page->SaveButton()->click();
        QCOMPARE(offered.size(), 1);
        QCOMPARE(offered.at(0).fileName, std::string());
        QCOMPARE(offered.at(0).title, std::string("CSV History saving"));
        QCOMPARE(offered.at(0).defaultExtension, std::string("csv"));
        QCOMPARE(offered.at(0).filter, std::string("CSV Files(*.csv)|*.CSV"));
        QVERIFY(boxes.texts.isEmpty());
        const std::string text = test::ReadFile(path);
        QCOMPARE(text, context_->history.Csv().Text());
        QVERIFY(text.rfind(std::string(kCsvHeaderLine) + "\r\n", 0) == 0);
        QVERIFY(test::SplitLines(text).size() > 2);
        QCOMPARE(page->LastFileName(), path);

        // The next save offers the same file and asks before rewriting it.
        test::WriteFileForTest(path, "old");
        page->SaveButton()->click();
        QCOMPARE(offered.size(), 2);
        QCOMPARE(offered.at(1).fileName, path);
        QCOMPARE(boxes.texts, QStringList{QString::fromStdString("File\r\n" + path + "\r\nalready exists\r\nRewrite?")});
        QCOMPARE(test::ReadFile(path), context_->history.Csv().Text());

        // Cancelled: nothing written, the name kept.
        answer.reset();
        test::WriteFileForTest(path, "old");
        page->SaveButton()->click();
        QCOMPARE(test::ReadFile(path), std::string("old"));
        QCOMPARE(page->LastFileName(), path);

        // The real dialog: titled, filtered, offering the last file; a name without a suffix
        // gets ".csv".
        page->SetFileChooser({});
        const std::string other = folder_->File("other");
        QStringList seen;
        QTimer::singleShot(0, page, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            seen << dialog->windowTitle() << dialog->nameFilters() << dialog->defaultSuffix()
                 << dialog->selectedFiles().value(0);
            dialog->selectFile(QString::fromStdString(other));
            static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as the Save button does
        });
        page->SaveButton()->click();
        QCOMPARE(seen, (QStringList{"CSV History saving", "CSV Files (*.csv *.CSV)", "csv", QString::fromStdString(path)}));
        QCOMPARE(test::ReadFile(other + ".csv"), context_->history.Csv().Text());
        QCOMPARE(page->LastFileName(), other + ".csv");
    }

    void theArchiveBoxShowsEveryDownloadAndSavesThePeriodShown() {
        Fresh(2);
        HistoryPageWidget* page = Page();
        QCOMPARE(page->ArchiveBox()->text(), QString("Archive"));
        {
            // Nothing archived yet, no device: said so, and the box stays clear.
            BoxAnswerer boxes;
            page->ArchiveBox()->click();
            QCOMPARE(boxes.texts, QStringList{"The history archive is empty"});
            QVERIFY(!page->ArchiveBox()->isChecked());
            QVERIFY(!page->NavigationPanel()->isEnabled());
        }

        // Two downloads with the ring advanced by 300 minutes in between.
        Connect({"--append-at-exchange-end", "300"});
        Download();
        const std::string firstCsv = context_->history.Csv().Text();
        Download();
        const std::string serial = FormatSerial(context_->identity.inf1);
        const std::string downloadCsv = context_->history.Csv().Text();
        auto archive = HistoryArchive::Open(DefaultArchivePath(), {});
        QVERIFY(archive);
        const std::uint64_t held = archive->Device(serial)->recordCount;
        std::uint64_t counted = 0;
        for (std::uint32_t i = 0; i < context_->history.Store().RecordCount(); ++i)
            counted += context_->history.Store().RecordAt(i)->Counts();
        QVERIFY(counted > 0 && held >= counted);

        page->ArchiveBox()->click();
        QVERIFY(page->ArchiveBox()->isChecked());
        QVERIFY(page->NavigationPanel()->isEnabled());
        QVERIFY(context_->history.ShowingOtherRecords());
        // From the minute of the newest record; up to the year it was written in.
        QCOMPARE(Chart()->Model().level, HistoryLevel::Minute);
        for (int i = 0; i < 4; ++i) page->UpButton()->click();
        QCOMPARE(Chart()->Model().level, HistoryLevel::Year);
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{12});

        // Save CSV: the archive's records of the year shown, every line of both downloads of
        // that year among them, each record once.
        const std::string path = folder_->File("archive.csv");
        page->SetFileChooser([&](const CsvSaveDialog&) { return std::optional<std::string>(path); });
        page->SaveButton()->click();
        const std::vector<std::string> saved = test::SplitLines(test::ReadFile(path));
        QCOMPARE(saved.at(0), std::string(kCsvHeaderLine) + "\r");
        // The year of the newest record.
        const DeviceDateTime newest = SecondsToDateTime(archive->Device(serial)->lastTime);
        const std::uint32_t yearStart = DateTimeToSeconds(MakeDeviceDateTime(2000u + newest.year, 1, 1));
        const std::uint32_t yearEnd = DateTimeToSeconds(MakeDeviceDateTime(2001u + newest.year, 1, 1)) - 1;
        std::set<std::string> records;  // time, date, time, length, pulses
        auto record = [](const std::string& line) { return line.substr(0, line.find(';', line.find(';', line.find(';', line.find(';', line.find(';') + 1) + 1) + 1) + 1)); };
        for (std::size_t i = 1; i < saved.size(); ++i) {
            const std::uint32_t start = static_cast<std::uint32_t>(std::stoul(saved[i]));
            QVERIFY(start >= yearStart && start <= yearEnd);
            QVERIFY(records.insert(record(saved[i])).second);
        }
        for (const std::string* csv : {&firstCsv, &downloadCsv}) {
            const std::vector<std::string> lines = test::SplitLines(*csv);
            for (std::size_t i = 1; i < lines.size(); ++i) {
                const std::uint32_t start = static_cast<std::uint32_t>(std::stoul(lines[i]));
                if (start >= yearStart && start <= yearEnd) QVERIFY(records.count(record(lines[i])));
            }
        }
        QVERIFY(saved.size() > 1);

        // A download while ticked shows itself, then the archive again with its records added.
        Download();
        QVERIFY(page->ArchiveBox()->isChecked());
        QVERIFY(context_->history.ShowingOtherRecords());
        QCOMPARE(Chart()->Model().level, HistoryLevel::Minute);
        QVERIFY(archive->Device(serial)->recordCount >= held + 300);

        // Cleared: the last download's chart and CSV again.
        page->ArchiveBox()->click();
        QVERIFY(!page->ArchiveBox()->isChecked());
        QVERIFY(!context_->history.ShowingOtherRecords());
        const DeviceDateTime at = context_->history.DeviceTime();
        QCOMPARE(Title(Chart(), 0), QString("Hostory for Minute : %1-%2:%3")
                                        .arg(QString::fromStdString(DateText(at)), Two(at.hour), Two(at.minute)));
        BoxAnswerer rewrite(QMessageBox::Yes);
        page->SaveButton()->click();
        QCOMPARE(test::ReadFile(path), context_->history.Csv().Text());

        window_->ToggleLanguage();
        QCOMPARE(page->ArchiveBox()->text(), QString("Архив"));
    }

    void aClickDuringTheDownloadCancelsIt() {
        Fresh(2);
        // A full ring: the download outlasts the two passes of the event loop the click waits for.
        Connect({"--history", "full"});
        HistoryPageWidget* page = Page();
        BoxAnswerer boxes;
        // Runs once the download lets events through and the page has shown its start.
        QTimer::singleShot(0, page, [page] {
            QTimer::singleShot(0, page, [page] {
                QCOMPARE(page->ReadButton()->text(), QString("Cancel"));
                page->ReadButton()->click();
            });
        });
        page->ReadButton()->click();
        QCOMPARE(boxes.texts, QStringList{"Reading of History canceled"});
        QVERIFY(!context_->history.Loaded());
        QCOMPARE(page->ReadButton()->text(), QString("Read"));
        QVERIFY(!page->NavigationPanel()->isEnabled());
        QVERIFY(page->SaveButton()->isEnabled());
        QCOMPARE(Title(Chart(), 0), QString("Waiting of reading History"));
        QVERIFY(window_->PageControl()->tabBar()->isEnabled());

        // A new download after it completes.
        Download();
        QVERIFY(page->NavigationPanel()->isEnabled());
        QCOMPARE(boxes.texts.size(), 1);
    }

    void eraseAfterConfirmationLeavesAnEmptyHistory() {
        Fresh(2);
        Connect();
        HistoryPageWidget* page = Page();
        BoxAnswerer boxes(QMessageBox::Yes);
        page->DeleteButton()->click();
        QCOMPARE(boxes.texts, QStringList{"History in Device will be deleted!\r\nContinue"});
        QVERIFY(page->DeleteButton()->isEnabled());
        Download();
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(Chart()->Model().bars.size(), std::size_t{6});
        for (const ChartBar& bar : Chart()->Model().bars) QCOMPARE(bar.coverage, BarCoverage::Empty);
    }

    void oldFirmwareShowsTheRedNotice() {
        Fresh(2);
        Connect({"--main-version", "12.5"});
        HistoryPageWidget* page = Page();
        BoxAnswerer boxes;
        page->ReadButton()->click();
        QCOMPARE(boxes.texts, QStringList{"Error of History reading"});
        QCOMPARE(page->Notice()->text(), QString("Need\nto Update\nFirmware"));
        QCOMPARE(page->Notice()->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(!page->NavigationPanel()->isEnabled());
    }
};

QTEST_MAIN(HistoryPageTest)
#include "history_page_test.moc"
