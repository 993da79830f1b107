// The history page's device side against kalvo-devsim: download, cancel at a page boundary, a
// failure mid-way, erase; and kalvo-cli history.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "app/context.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"
#include "support/ticked_sim_test.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

class HistoryAgainstSim : public test::TickedSimTest {
protected:
    // At full speed, and ready once recognised.
    void Connect(std::vector<std::string> options) {
        options.insert(options.end(), {"--baud", "0"});
        ASSERT_TRUE(TickUntil([this] { return context.connection.ScanList().FirstScanDone(); }));
        sim = StartSim(7, std::move(options));
        ASSERT_TRUE(TickUntil([this] { return context.tick.DeviceRecognised(); }));
    }
    int Count(const std::string& line) {
        const auto& lines = context.log.Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }

    const std::string begin = "Write PAR[0xFF00(65280)] : 0xC0BA0010(-1061552112)";
    const std::string end = "Write PAR[0xFF00(65280)] : 0xC0BA0011(-1061552111)";
};

TEST_F(HistoryAgainstSim, DownloadsTheRingAndDrawsTheMinuteLevel) {
    Connect({});
    HistoryPage& history = context.history;
    bool sawCancelCaption = false;
    bool pagesLocked = false;
    ui.onPump = [&] {
        sawCancelCaption = history.View().readTag == 1;
        pagesLocked = !history.PageControl1Changing();
    };
    history.BitBtn_HIS_ReadClick();
    ASSERT_TRUE(history.Loaded());
    EXPECT_TRUE(sawCancelCaption);
    EXPECT_TRUE(pagesLocked);
    EXPECT_TRUE(history.PageControl1Changing());
    EXPECT_EQ(history.View().readTag, 0);
    EXPECT_TRUE(history.View().navigationEnabled);
    EXPECT_EQ(history.View().chart.title.size(), 2u);
    EXPECT_EQ(history.View().chart.bars.size(), 6u);
    EXPECT_GT(history.Store().RecordCount(), 100u);
    EXPECT_EQ(Count(begin), 1);
    EXPECT_EQ(Count(end), 1);
    EXPECT_EQ(context.connection.linkTestEnabled, true);

    // The CSV holds the exportable records, newest first.
    Lines rows = test::SplitLines(history.Csv().Text());
    ASSERT_GT(rows.size(), 2u);
    EXPECT_EQ(rows[0].substr(0, 25), "TIME_IN_SECOND_FROM_2000;");
    EXPECT_GT(std::stoul(rows[1]), std::stoul(rows[2]));

    // Up to the year and back down by a double click on a bar that has data.
    for (int i = 0; i < 4; ++i) history.BitBtn_HIS_UpClick();
    EXPECT_EQ(history.ChartState().level, HistoryLevel::Year);
    EXPECT_EQ(history.View().chart.bars.size(), 12u);
    int month = history.ChartState().position.month - 1;
    history.ChartBarDoubleClick(month);
    EXPECT_EQ(history.ChartState().level, HistoryLevel::Month);
}

TEST_F(HistoryAgainstSim, ACancelStopsAtAPageBoundaryAndEndsTheExchange) {
    Connect({"--history", "full"});
    HistoryPage& history = context.history;
    int pages = 0;
    history.onPage = [&](int done, int) { pages = done; };
    ui.onPump = [&] {
        if (pages == 2) history.BitBtn_HIS_ReadClick();  // the button again: cancel
    };
    history.BitBtn_HIS_ReadClick();
    EXPECT_FALSE(history.Loaded());
    EXPECT_EQ(pages, 2);
    EXPECT_EQ(ui.calls.back(), "warning: Reading of History canceled");
    EXPECT_EQ(Count(end), 1);
    EXPECT_FALSE(history.View().navigationEnabled);
    EXPECT_EQ(history.View().chart.title, (std::vector<std::string>{"Waiting of reading History"}));
    EXPECT_TRUE(history.View().deleteEnabled);
}

TEST_F(HistoryAgainstSim, AFailedReadMidWayIsReportedAndNotLoaded) {
    Connect({"--history", "full"});
    HistoryPage& history = context.history;
    ui.onPump = [&] { context.port.Close(); };  // the cable goes after the first page
    history.BitBtn_HIS_ReadClick();
    EXPECT_FALSE(history.Loaded());
    EXPECT_EQ(ui.calls.back(), "error: Error of History reading");
    EXPECT_EQ(Count(begin), 1);
    EXPECT_EQ(Count(end), 0);
    EXPECT_TRUE(context.connection.linkTestEnabled);
}

TEST_F(HistoryAgainstSim, EraseEmptiesTheRing) {
    Connect({});
    HistoryPage& history = context.history;
    ui.answers = {false};
    EXPECT_FALSE(history.BitBtn_HIS_DeleteClick());
    EXPECT_EQ(Count(begin), 0);
    ui.answers = {true};
    EXPECT_TRUE(history.BitBtn_HIS_DeleteClick());
    EXPECT_EQ(Count("Write PAR[0xFF00(65280)] : 0xC0BA0012(-1061552110)"), 1);
    EXPECT_EQ(Count(end), 1);
    history.BitBtn_HIS_ReadClick();
    ASSERT_TRUE(history.Loaded());
    EXPECT_EQ(history.Store().RecordCount(), 0u);
    EXPECT_EQ(test::SplitLines(history.Csv().Text()).size(), 1u);  // the header only
}

TEST_F(HistoryAgainstSim, AnEraseTheDeviceNeverAnsweredIsAnError) {
    Connect({"--ignore-request", "010F00FF1200BAC0"});
    ui.answers = {true};
    EXPECT_FALSE(context.history.BitBtn_HIS_DeleteClick());
    EXPECT_EQ(ui.calls.back(), "error: Error of History deleting");
    // The exchange is still closed.
    EXPECT_EQ(Count(begin), 1);
    EXPECT_EQ(Count(end), 1);
    EXPECT_TRUE(context.connection.linkTestEnabled);
}

// Late answers past the learnt retry time and lost requests: every record exact, and the late
// answer to a repeated read is never taken for the next read's answer.
TEST_F(HistoryAgainstSim, LateAndLostAnswersLeaveTheDownloadExact) {
    const std::vector<std::string> device{"--history", "short", "--seed", "5", "--clock", "2026-12-08 10:00:00"};
    // The same device without faults, read by kalvo-cli, gives the reference.
    std::vector<std::string> clean = device;
    clean.insert(clean.end(), {"--baud", "0"});
    auto reference = StartSim(8, clean);
    auto cli = Cli({"history", "--port", "8", "--csv", folder.File("clean.csv")});
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();
    reference.reset();

    std::vector<std::string> faulty = device;
    faulty.insert(faulty.end(), {"--drop-request", "9", "--late-answer", "40:120", "--late-answer", "90:400",
                                 "--late-answer", "91:60", "--late-answer", "130:250"});
    Connect(faulty);
    context.history.BitBtn_HIS_ReadClick();
    ASSERT_TRUE(context.history.Loaded());
    EXPECT_EQ(context.history.Csv().Text(), test::ReadFile(folder.File("clean.csv")));
    EXPECT_GT(context.link.Channel(2)->repeatCounter, 0);
    // Learnt: well below the fixed 700 ms for a 32-byte read.
    EXPECT_TRUE(context.link.RoundTrip().Learnt());
    EXPECT_LT(context.link.RoundTrip().TimeoutMs(100), 700.0);
    EXPECT_TRUE(std::none_of(ui.calls.begin(), ui.calls.end(),
                             [](const std::string& call) { return call.rfind("error", 0) == 0; }));
}

TEST_F(HistoryAgainstSim, WithoutADeviceNothingIsAsked) {
    context.history.BitBtn_HIS_ReadClick();
    EXPECT_EQ(ui.calls.back(), "error: Error of History reading");
    ui.answers = {true};
    EXPECT_FALSE(context.history.BitBtn_HIS_DeleteClick());
    EXPECT_EQ(ui.calls.back(), "error: Error of History deleting");
    EXPECT_EQ(Count(begin), 0);
}

class HistoryCli : public ::testing::Test, public test::SimFixture {};

TEST_F(HistoryCli, WritesTheCsvAndPrintsTheBars) {
    auto device = StartSim(4, {"--baud", "0", "--clock", "2026-12-08 10:00:00"});
    const std::string csv = folder.File("history.csv");
    auto cli = Cli({"history", "--port", "4", "--csv", csv, "--chart", "day", "--at", "2026-12-08 09:30:00"});
    ASSERT_EQ(cli->Wait(), 0) << cli->Err();
    std::string text = test::ReadFile(csv);
    EXPECT_EQ(text.rfind("TIME_IN_SECOND_FROM_2000;DATE;TIME;", 0), 0u);
    EXPECT_NE(text.find(";=E2*G2*H2/(D2*F2*I2)\r\n"), std::string::npos);
    Lines out = test::SplitLines(cli->Out());
    auto title = std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.find("Hostory for Day") == 0; });
    ASSERT_NE(title, out.end());
    ASSERT_GE(out.end() - title, 2 + 24);
    EXPECT_EQ(title[2].substr(0, 2), "0;");
    EXPECT_EQ(std::count(title[2].begin(), title[2].end(), ';'), 4);

    // An existing file is replaced only with --yes.
    auto refused = Cli({"history", "--port", "4", "--csv", csv});
    EXPECT_EQ(refused->Wait(), 1);
    auto replaced = Cli({"history", "--port", "4", "--csv", csv, "--yes"});
    EXPECT_EQ(replaced->Wait(), 0) << replaced->Err();
}

// Ctrl+C, and SIGHUP when the terminal closes.
TEST_F(HistoryCli, AStopSignalCancelsTheDownloadInOrder) {
  for (int signal : {SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    auto device = StartSim(4, {"--history", "full"});
    test::Process cli({KALVO_CLI_PATH, "history", "--port", "4", "--csv", folder.File("h.csv"), "--log",
                       folder.File("log.txt")},
                      Env());
    ASSERT_TRUE(cli.WaitForErr("History: page 2/255", std::chrono::seconds(30))) << cli.Err();
    cli.Signal(signal);
    EXPECT_EQ(cli.Wait(), 128 + signal);
    // On a line of its own, not after the page count.
    EXPECT_NE(cli.Err().find("/255\nwarning: Reading of History canceled\n"), std::string::npos) << cli.Err();
    Lines log = test::SplitLines(test::ReadFile(folder.File("log.txt")));
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Write PAR[0xFF00(65280)] : 0xC0BA0011(-1061552111)");
    EXPECT_EQ(log.back(), "Close COM 4 : OK");
    EXPECT_FALSE(std::filesystem::exists(folder.File("h.csv")));
  }
}

// A CSV that cannot be written is refused before the download; an unanswered erase fails.
TEST_F(HistoryCli, RefusesWhatItCannotDoBeforeItStarts) {
    auto device = StartSim(4, {"--ignore-request", "010F00FF1200BAC0"});
    const std::string missing = folder.File("missing/h.csv");
    auto cli = Cli({"history", "--port", "4", "--csv", missing, "--log", folder.File("log.txt")});
    EXPECT_EQ(cli->Wait(), 1);
    EXPECT_EQ(cli->Err(), "error: File creating Error\r\n" + missing + "\n");
    EXPECT_EQ(test::ReadFile(folder.File("log.txt")), "");  // the port was never opened
    for (const std::string& target : {std::string("/dev/null"), folder.Path()}) {
        auto refused = Cli({"history", "--port", "4", "--csv", target, "--yes"});
        EXPECT_EQ(refused->Wait(), 1);
        EXPECT_EQ(refused->Err(), "error: File open Error\r\n" + target + "\n");
    }
    auto erase = Cli({"history", "--port", "4", "--erase", "--yes"});
    EXPECT_EQ(erase->Wait(), 1);
    EXPECT_NE(erase->Err().find("error: Error of History deleting\n"), std::string::npos) << erase->Err();
}

TEST_F(HistoryCli, RefusesBadChartArguments) {
    EXPECT_EQ(Cli({"history", "--port", "4", "--chart", "week"})->Wait(), 2);
    for (const char* at : {"2026-02-30 00:00:00", "2026-12-8 10:00:00", "2026-12-08  10:00:00", "2026-12-08 10:00:+1",
                           "+026-12-08 10:00:00", "2026-12-08T10:00:00"})
        EXPECT_EQ(Cli({"history", "--port", "4", "--chart", "day", "--at", at})->Wait(), 2) << at;
    EXPECT_EQ(Cli({"history", "--port", "4"})->Wait(), 2);
}

}  // namespace
}  // namespace kalvo
