// The image writers in-process against kalvo-devsim: what goes on the wire (its trace), on the
// device screen (its screen log), into the report log and to the front end.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>

#include "app/context.h"
#include "firmware/main_image_writer.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"
#include "support/ticked_sim_test.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

// "ch2 02 03 00 10 00 00 80 ..." -> the 32-bit address after the code.
std::uint32_t AddressOf(const std::string& request) {
    std::uint32_t address = 0;
    for (int i = 3; i >= 0; --i) address = address << 8 | static_cast<std::uint32_t>(std::stoul(request.substr(10 + 3 * i, 2), nullptr, 16));
    return address;
}

bool StartsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

Lines From(const Lines& lines, const std::string& first) {
    auto at = std::find(lines.begin(), lines.end(), first);
    return Lines(at, lines.end());
}

class WritersAgainstSim : public ::testing::Test, public test::SimFixture {
protected:
    void Start(std::vector<std::string> options) {
        options.insert(options.end(), {"--baud", "0", "--screen-log", ScreenLog()});
        sim = StartSim(7, options);
        context.port.SetPortNumber(7);
        ASSERT_TRUE(context.port.Open(kBaudRate));
    }
    std::string ScreenLog() const { return folder.File("screen.txt"); }
    Lines Screen() const { return test::SplitLines(test::ReadFile(ScreenLog())); }
    Lines CallsStartingWith(std::string_view prefix) const {
        Lines found;
        for (const std::string& call : ui.calls)
            if (StartsWith(call, prefix)) found.push_back(call.substr(prefix.size()));
        return found;
    }
    Lines RequestsStartingWith(std::string_view prefix) const {
        Lines found;
        for (const std::string& request : TracedRequests())
            if (StartsWith(request, prefix)) found.push_back(request);
        return found;
    }
    FirmwareTools& Tools() { return context.firmware.Tools(); }

    test::RecordingUiPort ui;
    AppContext context{ui, PortDirectory(PortsFolder(), false)};
    std::unique_ptr<test::Process> sim;
};

TEST_F(WritersAgainstSim, DataImageOnR630WithAReportAfterEveryChunk) {
    Start({"--model", "r630"});
    std::uint64_t now = 0;
    // R630 writes 32-byte blocks (a small-page CPU); a report after every fourth.
    Tools().clock = [&now] { return now += 126; };
    std::uint32_t endSum = 0;
    context.firmware.DataWriter().DataImageEnd = [&endSum](std::uint32_t sum) {
        endSum = sum;
        return true;
    };
    ASSERT_TRUE(context.firmware.DataWriter().WriteDataImage());

    const std::string banner43(43, '#'), banner39(39, '#');
    Lines logged = From(context.log.Lines(), banner43);
    // A busy machine may repeat a write that needed no repeat (the answer time is learnt).
    for (std::string& line : logged)
        if (line.rfind("# REP_CNT:", 0) == 0) line = "# REP_CNT:";
    EXPECT_EQ(logged, (Lines{banner43, "# Updating EFL", "==> Check - Device is in Boot or TRV8", "BOOT  : 4.1",
                             "TRV8  : 12.9", "# ЗАПИСЬ: 100% 304Кб [>>>>>>>>>>>>>>>>>>>>>>>>>]", "# REP_CNT:", banner39}));
    const FirmwareImage& image = *DataImageFor(630);
    EXPECT_EQ(endSum, std::accumulate(image.bytes.begin(), image.bytes.end(), 0u));
    EXPECT_TRUE(context.connection.linkTestEnabled);

    // One report a chunk: the first at 0 % draws nothing on the device, the last is 100 %.
    Lines reports = CallsStartingWith("logline: ");
    ASSERT_EQ(reports.size(), 311296u / 128);  // every 128 bytes
    EXPECT_EQ(reports.front(), "# ЗАПИСЬ: 0% 0Кб [>------------------------]");
    EXPECT_EQ(reports.back(), "# ЗАПИСЬ: 100% 304Кб [>>>>>>>>>>>>>>>>>>>>>>>>>]");
    const auto drawn = static_cast<std::size_t>(
        std::count_if(reports.begin(), reports.end(), [](const std::string& r) { return !StartsWith(r, "# ЗАПИСЬ: 0%"); }));
    EXPECT_EQ(drawn, reports.size() - 24);  // 24 reports stay below 1 %
    Lines progress = CallsStartingWith("progress: ");
    EXPECT_EQ(progress.front(), "0/100");
    EXPECT_EQ(progress[progress.size() - 2], "100/100");
    EXPECT_EQ(progress.back(), "0/100");

    // The device screen: connection, start page, a bar and a spinner per drawn report, end page.
    Lines screen = Screen();
    ASSERT_EQ(screen.size(), 1 + 5 + 2 * drawn + 2);
    EXPECT_EQ(Lines(screen.begin(), screen.begin() + 6),
              (Lines{"PC_CONNECTION COM 7", "PC_PRINT {X0|Y0|Cg|RA}", "PC_PRINT {F02|Bg|CW|AL|T0}",
                     "PC_PRINT {Y1|AS|*}PC CONNECT", "PC_PRINT {Y21|AS|*}COM-7",
                     "PC_PRINT {Y60|X11|CB|RF106:16|x3|y3|Cb|RF100:10}"}));
    EXPECT_EQ(screen[6], "PC_PRINT {X14|Y63|CY|RF1:10}");
    for (std::size_t k = 0; k < drawn; ++k) {
        const char spinner[] = {'|', '/', '-', '\\'};
        ASSERT_EQ(screen[7 + 2 * k], std::string("PC_PRINT {Y83|CC|F02|AS|*}") + spinner[(k + 1) % 4]) << k;
    }
    EXPECT_EQ(screen[screen.size() - 4], "PC_PRINT {X14|Y63|CY|RF100:10}");
    EXPECT_EQ(Lines(screen.end() - 2, screen.end()),
              (Lines{"PC_PRINT #{X0|Y60|Cg|Bg|RF128:20|F02}", "PC_PRINT {Y83|CY|T0|AS|*}END OF#{y20|AS|*}WRITE"}));
    EXPECT_EQ(context.firmware.DataWriter().SpinnerIndex(), static_cast<int>(drawn % 4));

    // Every sector of the image erased once, before its first write, and none beyond it.
    std::map<std::uint32_t, int> erased;
    for (const std::string& request : TracedRequests()) {
        if (StartsWith(request, "ch2 02 05 ")) {
            ++erased[AddressOf(request)];
        } else if (StartsWith(request, "ch2 02 03 ")) {
            ASSERT_TRUE(erased.count(AddressOf(request) & ~0xFFFu)) << request;
        }
    }
    ASSERT_EQ(erased.size(), 76u);
    EXPECT_EQ(erased.rbegin()->first, 75u * 4096);
    EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](const auto& e) { return e.second == 1 && e.first % 4096 == 0; }));
    EXPECT_EQ(context.firmware.DataWriter().SectorErasedMap().count(), 76u);
}

TEST_F(WritersAgainstSim, DataImageIsRefusedInBootModeWithNothingSent) {
    Start({"--main-version", "0"});
    EXPECT_FALSE(context.firmware.DataWriter().WriteDataImage());
    EXPECT_EQ(context.log.Lines().back(), "# ERROR: \"Update EFL not avaliable in BOOT Mode\"");
    EXPECT_EQ(TracedRequests(), (Lines{"ch1 01 01"}));
    EXPECT_TRUE(Screen().empty());
}

TEST_F(WritersAgainstSim, DataImageStartHookFailureStopsBeforeTheFlash) {
    Start({"--model", "r520"});
    context.firmware.DataWriter().DataImageStart = [](std::uint32_t size) { return size != 798720; };
    EXPECT_FALSE(context.firmware.DataWriter().WriteDataImage());
    Lines log = context.log.Lines();
    EXPECT_EQ(Lines(log.end() - 2, log.end()), (Lines{"# WRITING: 0% bytes", "# ERROR: \"EFL_WriteFile_Start\""}));
    EXPECT_TRUE(RequestsStartingWith("ch2").empty());
    EXPECT_EQ(Screen(), (Lines{"PC_CONNECTION COM 7"}));
}

TEST_F(WritersAgainstSim, DataImageFailingAtTheFirstChunkNamesAddressZero) {
    Start({"--model", "r630", "--power-cut-at-write", "1", "--reset-downtime-ms", "60000"});
    EXPECT_FALSE(context.firmware.DataWriter().WriteDataImage());
    Lines log = context.log.Lines();
    auto failure = std::find(log.begin(), log.end(), "# ERROR: \"write_func\"");
    ASSERT_NE(failure, log.end());
    EXPECT_EQ(Lines(failure, failure + 3), (Lines{"# ERROR: \"write_func\"", "# ERROR: \"WRITE ERR: A=0x000000\"",
                                                  "# ERROR: \"Update not completed\""}));
    EXPECT_TRUE(StartsWith(failure[3], "# REP_CNT:"));
    EXPECT_EQ(log.back(), std::string(39, '#'));
    EXPECT_TRUE(context.connection.linkTestEnabled);
    EXPECT_EQ(ui.calls.back(), "progress: 0/100");
    // No end page after a failed write.
    EXPECT_EQ(Screen().size(), 6u);
}

struct MainCase {
    const char* name;
    std::vector<std::string> sim;
    bool written;
    std::string error;  // the error line, "" for none
};

void PrintTo(const MainCase& c, std::ostream* os) { *os << c.name; }

class MainImageCases : public WritersAgainstSim, public ::testing::WithParamInterface<MainCase> {};

TEST_P(MainImageCases, WriteOrRefuse) {
    const MainCase& c = GetParam();
    Start(c.sim);
    WrittenRange written;
    EXPECT_EQ(WriteMainImage(Tools(), &written), c.written);
    Lines log = context.log.Lines();
    Lines cpuRequests = RequestsStartingWith("ch3 ");
    // A request sent again after the answer time learnt (a busy machine) is one request here.
    cpuRequests.erase(std::unique(cpuRequests.begin(), cpuRequests.end()), cpuRequests.end());
    if (!c.error.empty()) {
        EXPECT_TRUE(std::find(log.begin(), log.end(), "# ERROR: \"" + c.error + "\"") != log.end());
    }
    EXPECT_TRUE(context.connection.linkTestEnabled);
    if (!c.written) {
        EXPECT_TRUE(cpuRequests.empty());
        if (c.error.empty()) {
            EXPECT_EQ(log.back(), "TRV8  : 0.0");  // no image, no message
        }
        return;
    }
    // The first chunk reaches the block boundary; the first page erase waits for a page start.
    ASSERT_GE(cpuRequests.size(), 2u);
    ASSERT_GE(cpuRequests.size(), 4u);
    EXPECT_TRUE(StartsWith(cpuRequests[0], "ch3 03 03 50 20 00 08 10 ")) << cpuRequests[0];
    EXPECT_TRUE(StartsWith(cpuRequests[1], "ch3 03 03 60 20 00 08 20 ")) << cpuRequests[1];
    EXPECT_EQ(cpuRequests[2], "ch3 03 05 80 20 00 08");
    EXPECT_TRUE(StartsWith(cpuRequests[3], "ch3 03 03 80 20 00 08 20 ")) << cpuRequests[3];
    const auto erases = std::count_if(cpuRequests.begin(), cpuRequests.end(),
                                      [](const std::string& r) { return StartsWith(r, "ch3 03 05 "); });
    EXPECT_EQ(erases, 57344 / 128);
    EXPECT_EQ(written.start, 0x08002050u);
    EXPECT_EQ(written.bytes.size(), 57344u);
    Lines progress = CallsStartingWith("logline: ");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "# Written: 100%");
    const std::string banner(39, '#');
    EXPECT_EQ(From(log, banner), (Lines{banner, "# Updating TRV8", "==> Check - Device is in Boot or TRV8", "BOOT  : 4.1",
                                       "TRV8  : 0.0", "# Written: 100%", banner}));
    EXPECT_EQ(ui.calls.back(), "progress: 0/100");
}

INSTANTIATE_TEST_SUITE_P(
    FirmwareStartPageAndMode, MainImageCases,
    ::testing::Values(
        MainCase{"UnalignedStart", {"--main-version", "0", "--firmware-start", "0x08002050", "--flash-size", "128K"}, true, ""},
        MainCase{"NoPageSize", {"--main-version", "0", "--cpu-code", "99"}, false, "CPU Page Size unknown"},
        MainCase{"UnknownRevision", {"--main-version", "0", "--revision", "43"}, false, ""},
        MainCase{"MainFirmwareRunning", {}, false, "Update TRV8 not avaliable - TRV8 Mode"}),
    [](const ::testing::TestParamInfo<MainCase>& row) { return row.param.name; });

TEST(UpdateFirmware, DoesNothingWithoutASupportedIdentifiedDevice) {
    test::RecordingUiPort ui;
    test::TempFolder folder;
    AppContext context(ui, PortDirectory(folder.File("ports"), false));
    context.firmware.allowStandIn = true;
    EXPECT_EQ(context.firmware.UpdateFirmware(), UpdateOutcome::NotStarted);  // no device
    context.identity.identified = true;
    context.identity.boardInfo.boardCode = 415;
    EXPECT_EQ(context.firmware.UpdateFirmware(), UpdateOutcome::NotStarted);  // another board
    context.identity.boardInfo.boardCode = 630;
    EXPECT_EQ(context.firmware.UpdateFirmware(), UpdateOutcome::NotStarted);  // not connected
    EXPECT_TRUE(ui.calls.empty());
    EXPECT_TRUE(context.log.Lines().empty());
    EXPECT_FALSE(context.firmware.Running());
}

class UpdateQuestions : public test::TickedSimTest {};

// The confirmation is a warning and the retry question, which follows a failure, an error.
TEST_F(UpdateQuestions, AreAWarningThenAnError) {
    Connect({"--baud", "0", "--corrupt-write", "100"});
    context.firmware.allowStandIn = true;
    context.firmware.verifyAfterWriting = true;
    ui.answers = {true, false};
    EXPECT_EQ(context.firmware.UpdateFirmware(), UpdateOutcome::Failed);
    Lines questions;
    for (const std::string& call : ui.calls)
        if (StartsWith(call, "confirm")) questions.push_back(call.substr(0, call.find(':')));
    EXPECT_EQ(questions, (Lines{"confirm warning", "confirm error"}));
}

}  // namespace
}  // namespace kalvo
