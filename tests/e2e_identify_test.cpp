// Identification end to end: kalvo-cli identify against kalvo-devsim variants, and the
// identification cache in-process against the simulator, checked through its trace.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/context.h"
#include "support/recording_ui_port.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

using Lines = std::vector<std::string>;

bool Has(const Lines& lines, const std::string& line) { return std::find(lines.begin(), lines.end(), line) != lines.end(); }

class IdentifyEndToEnd : public ::testing::Test, public test::SimFixture {
protected:
    // Runs `identify` against a simulator started with `options`; returns stdout lines.
    Lines Identify(std::vector<std::string> options, int expectedStatus) {
        auto sim = StartSim(7, std::move(options));
        auto cli = Cli({"identify", "--port", "7", "--log", folder.File("log.txt")});
        EXPECT_EQ(cli->Wait(), expectedStatus) << cli->Out() << cli->Err();
        return test::SplitLines(cli->Out());
    }
};

const std::string kBanner(42, '#');

TEST_F(IdentifyEndToEnd, SupportedR630PrintsEveryLineAsTheLogHasThem) {
    Lines out = Identify({"--model", "r630", "--revision", "41", "--cpu-code", "9", "--serial", "12345678",
                          "--boot-version", "4.1", "--main-version", "12.9", "--board-number", "3", "--board-y", "2:17",
                          "--uid", "0102030405060708090A0BFF"},
                         0);
    EXPECT_EQ(out, (Lines{kBanner, "# Read Device Information:", "# Device: Orbelan RKD-630.41.0",
                          "# UID   : 01:02:03:04:05:06:07:08:09:0A:0B:FF", "# S/N   : 123-45678",
                          "# (INF1) Board : RKD-630.3", "# (INF1) BoardY: (2:17)", "# BOOT  : 4.1", "# TRV8  : 12.9",
                          kBanner}));
    // The report log holds the same lines after the port's own.
    Lines log = test::SplitLines(test::ReadFile(folder.File("log.txt")));
    ASSERT_EQ(log.size(), out.size() + 2);
    EXPECT_EQ(log.front(), "Open COM 7 : OK");
    EXPECT_EQ(Lines(log.begin() + 1, log.end() - 1), out);
    EXPECT_EQ(log.back(), "Close COM 7 : OK");
}

TEST_F(IdentifyEndToEnd, R630RevisionFortyAndAWrongCpuAreRefused) {
    Lines out = Identify({"--model", "r630", "--revision", "40"}, 1);
    EXPECT_TRUE(Has(out, "# Device: Orbelan RKD-630.40.0"));
    EXPECT_TRUE(Has(out, "# ERROR: \"Wrong Device Type\""));
    EXPECT_EQ(out.back(), kBanner);
}

TEST_F(IdentifyEndToEnd, AWrongCpuCodeIsNamed) {
    Lines out = Identify({"--model", "r630", "--cpu-code", "5"}, 1);
    EXPECT_TRUE(Has(out, "# ERROR: \"CPU MODEL:5\""));
}

TEST_F(IdentifyEndToEnd, R520SecondModelIsAccepted) {
    Lines out = Identify({"--model", "r520", "--revision", "4", "--variant", "2"}, 0);
    EXPECT_TRUE(Has(out, "# Device: KALVO 52T BIS RKD-520.4.2"));
    EXPECT_FALSE(Identify({"--model", "r520", "--revision", "4", "--variant", "3"}, 1).empty());
}

TEST_F(IdentifyEndToEnd, OldBootLoaderIsTakenForA415WithoutAskingTheBoard) {
    Lines out = Identify({"--boot-version", "3.2"}, 1);
    EXPECT_TRUE(Has(out, "# Device: RKD-415.0.0"));
    EXPECT_TRUE(Has(out, "# ERROR: \"Wrong Device Type\""));
    for (const std::string& request : TracedRequests()) EXPECT_NE(request.substr(0, 9), "ch1 01 0A") << request;
}

TEST_F(IdentifyEndToEnd, BootModeStillIdentifies) {
    Lines out = Identify({"--main-version", "0"}, 0);
    EXPECT_TRUE(Has(out, "# TRV8  : Device in BOOT mode"));
}

TEST_F(IdentifyEndToEnd, RetriesCarryIdentificationOverAFaultyLine) {
    for (const char* seed : {"1", "2", "3"}) {
        Lines out = Identify({"--drop-percent", "4", "--corrupt-percent", "4", "--seed", seed}, 0);
        EXPECT_TRUE(Has(out, "# S/N   : 123-45678")) << "seed " << seed;
    }
}

TEST_F(IdentifyEndToEnd, ADeviceThatStopsAnsweringFailsWithItsReason) {
    auto start = std::chrono::steady_clock::now();
    // Answers the two connection tests before identification, then nothing.
    Lines out = Identify({"--vanish-after", "2"}, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(out, (Lines{kBanner, "# Read Device Information:", "# ERROR: \"Read BoardCode\"", kBanner}));
}

// The identification cache in-process, against the simulator.
class IdentificationAgainstSim : public ::testing::Test, public test::SimFixture {
protected:
    void Connect(std::vector<std::string> options) {
        sim = StartSim(5, std::move(options));
        context = std::make_unique<AppContext>(ui, PortDirectory(PortsFolder(), false));
        context->port.SetPortNumber(5);
        ASSERT_TRUE(context->port.Open(kBaudRate));
    }
    // Memory reads in the trace: "address length" as the request spells them.
    Lines MemoryReads() {
        Lines reads;
        for (const std::string& request : TracedRequests())
            if (request.rfind("ch1 01 02 ", 0) == 0) reads.push_back(request.substr(10));
        return reads;
    }

    test::RecordingUiPort ui;
    std::unique_ptr<test::Process> sim;
    std::unique_ptr<AppContext> context;
};

TEST_F(IdentificationAgainstSim, MemoryIsReadInBlocksOfSixteenOnTheWire) {
    Connect({});
    std::uint8_t buffer[48];
    EXPECT_EQ(context->commands.ReadMemoryBlocks(0x08000000, buffer, 48, true), 48);
    EXPECT_EQ(context->commands.ReadMemoryBlocks(0x08000100, buffer, 12, true), 12);
    EXPECT_EQ(context->commands.ReadMemoryBlocks(0x08000200, buffer, 20, true), 20);
    EXPECT_EQ(MemoryReads(), (Lines{"00 00 00 08 10", "10 00 00 08 10", "20 00 00 08 10", "00 01 00 08 0C",
                                    "00 02 00 08 10", "10 02 00 08 04"}));
}

TEST_F(IdentificationAgainstSim, CpuCodeOneFindsItsInf1WhereItReallyIs) {
    Connect({"--cpu-code", "1"});
    ASSERT_TRUE(context->identification.ReadInf1());
    EXPECT_EQ(context->identification.Inf1Address(), 0x080027F0u);
    EXPECT_EQ(MemoryReads().back(), "F0 27 00 08 10");
    EXPECT_EQ(FormatSerial(*context->identification.KnownInf1()), "123-45678");
    EXPECT_TRUE(ui.calls.empty());
}

TEST_F(IdentificationAgainstSim, OldBootLoadersKeepTheirUidAtTheOldPlace) {
    Connect({"--boot-version", "1.6", "--cpu-code", "9"});
    EXPECT_EQ(context->identification.UidAddress(), 0x1FFFF7E8u);
    DeviceUid uid{};
    EXPECT_TRUE(context->identification.ReadUid(uid));
    EXPECT_EQ(MemoryReads().back(), "E8 F7 FF 1F 0C");
}

}  // namespace
}  // namespace kalvo
