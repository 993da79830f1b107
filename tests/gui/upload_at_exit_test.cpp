// The window's shutdown sends the report log to the update server: after the END lines, into
// the folder of the device that was identified, appended run after run; nothing is sent for a
// run that never started or when no server is set.
#include <algorithm>
#include <QtTest>

#include "gui/main_window.h"
#include "gui/qt_ui_port.h"
#include "support/ftp_server.h"
#include "support/sim_fixture.h"
#include "window_folders.h"

using namespace kalvo;

class UploadAtExitTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> folder_;

    struct Run {
        std::unique_ptr<QtUiPort> ui = std::make_unique<QtUiPort>();
        std::unique_ptr<AppContext> context;
        std::unique_ptr<MainWindow> window;
    };

    std::unique_ptr<Run> Start() {
        auto run = std::make_unique<Run>();
        run->context = std::make_unique<AppContext>(*run->ui, PortDirectory(folder_->File("ports"), false));
        run->window = std::make_unique<MainWindow>(*run->context, *run->ui);
        return run;
    }

    std::string LocalReport() const { return test::ReadFile(folder_->File("runtime/trv8_kalvo_explorer/log.txt")); }

private slots:
    void init() {
        folder_ = std::make_unique<test::TempFolder>();
        test::PrepareWindowFolders(*folder_, 1, std::nullopt);
        qputenv("KALVO_UPDATE_SERVER", "");
        qputenv("KALVO_UPDATE_SERVER_CA", "");
    }
    void cleanup() { folder_.reset(); }

    void theIdentifiedDevicesReportIsSentAtCloseAndAppended() {
        test::FtpServer ftp;
        qputenv("KALVO_UPDATE_SERVER", QByteArray::fromStdString(ftp.Url()));
        std::filesystem::create_directories(folder_->File("ports"));
        test::SimFixture sim;
        std::string sent;
        for (int round = 0; round < 2; ++round) {
            auto run = Start();
            QVERIFY(run->window->FormCreate());
            QVERIFY(QTest::qWaitFor([&] {
                run->window->Timer_ProcTimer();
                return run->context->connection.ScanList().FirstScanDone();
            }, 5000));
            auto device = sim.StartSimIn(folder_->File("ports"), 7, {"--serial", "12345678"});
            QVERIFY(QTest::qWaitFor([&] {
                run->window->Timer_ProcTimer();
                return run->context->tick.DeviceRecognised();
            }, 20000));
            run->window->close();
            std::string local = LocalReport();
            QVERIFY(local.find("# END: ") != std::string::npos);
            QCOMPARE(test::SplitLines(local).back(), std::string(42, '#'));
            // The upload's own progress: the bar full, the panel cleared, no line added.
            QCOMPARE(run->window->findChild<QProgressBar*>("ProgressBar_Bottom_Info")->value(), 100);
            QCOMPARE(run->window->StatusPanel()->text(), QString());
            // After the text that was sent only the port's closing line follows.
            const auto& lines = run->context->log.Lines();
            QCOMPARE(QString::fromStdString(lines.back()), QString("Close COM 7 : OK"));
            QCOMPARE(lines[lines.size() - 2], std::string(42, '#'));
            sent += local;
            QCOMPARE(test::ReadFile(ftp.Root() + "/log5/1_23/45xxx/6xx/rep.txt"), sent);
            // Unplugged, not killed: a killed simulator leaves its com7 link behind, and once
            // another process gets its pseudo-terminal's number the next window finds COM 7
            // present at start and, as for any port present at start, leaves it alone.
            device->Signal(SIGTERM);
            QCOMPARE(device->Wait(), 0);
        }
        QCOMPARE(ftp.Commands({"APPE"}).size(), std::size_t{2});
    }

    void noDeviceNoServerAndARunThatNeverStarted() {
        test::FtpServer ftp;
        qputenv("KALVO_UPDATE_SERVER", QByteArray::fromStdString(ftp.Url()));
        auto first = Start();
        QVERIFY(first->window->FormCreate());
        // A second instance stops at start-up: no report, no connection.
        auto second = Start();
        // Its warning box is answered as a user would.
        QTimer::singleShot(0, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        QVERIFY(!second->window->FormCreate());
        second->window->FormDestroy();
        QVERIFY(ftp.Log().empty());

        first->window->close();
        QCOMPARE(test::ReadFile(ftp.Root() + "/log5/__no_number/rep.txt"), LocalReport());

        // Without a server: the same report file, not a single connection, no line about it.
        test::FtpServer idle;
        qputenv("KALVO_UPDATE_SERVER", "");
        auto third = Start();
        QVERIFY(third->window->FormCreate());
        third->window->close();
        QCOMPARE(test::SplitLines(LocalReport()).back(), std::string(42, '#'));
        QCOMPARE(third->context->log.Lines().back(), std::string(42, '#'));
        QVERIFY(idle.Log().empty());

        // A wrong address is named in the report instead of passing for no server.
        qputenv("KALVO_UPDATE_SERVER", "ftp://127.0.0.1:99999/");
        auto fourth = Start();
        QVERIFY(fourth->window->FormCreate());
        fourth->window->close();
        const auto lines = test::SplitLines(LocalReport());
        QVERIFY(std::find(lines.begin(), lines.end(),
                          "# ERROR: \"Wrong update server address (KALVO_UPDATE_SERVER): port [99999] is not from 1 to "
                          "65535\"") != lines.end());
    }
};

QTEST_MAIN(UploadAtExitTest)
#include "upload_at_exit_test.moc"
