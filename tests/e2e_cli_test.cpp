// kalvo-cli against kalvo-devsim and against a port where nothing answers: real processes,
// real pseudo-terminals, real time-outs.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>

#include "support/pty_peer.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

using namespace std::chrono_literals;

int CountLines(const std::string& text, const std::string& line) {
    auto lines = test::SplitLines(text);
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

class CliEndToEnd : public ::testing::Test, public test::SimFixture {};

TEST_F(CliEndToEnd, PingsTheSimulatorFiftyTimes) {
    auto sim = StartSim(7);
    auto cli = Cli({"ping", "--port", "7", "--count", "50", "--log", folder.File("log.txt")});
    EXPECT_EQ(cli->Wait(), 0) << cli->Err();
    for (int i = 1; i <= 50; ++i)
        EXPECT_EQ(CountLines(cli->Out(), "Connection test " + std::to_string(i) + ": 1"), 1) << i;
    EXPECT_EQ(test::ReadFile(folder.File("log.txt")), "Open COM 7 : OK\nClose COM 7 : OK\n");
}

TEST_F(CliEndToEnd, RetriesCarryAPingOverDroppedRequests) {
    auto sim = StartSim(3, {"--drop-request", "2"});
    auto cli = Cli({"ping", "--port", "3", "--count", "3"});
    EXPECT_EQ(cli->Wait(), 0) << cli->Out() << cli->Err();
}

TEST_F(CliEndToEnd, ListsThePortsAndTheSimulatorRemovesItsLinkAtExit) {
    auto sim = StartSim(12);
    auto cli = Cli({"ports", "--log", folder.File("log.txt")});
    EXPECT_EQ(cli->Wait(), 0);
    EXPECT_EQ(cli->Out(), "PORT LIST: 12\nCOM 12 " + folder.File("ports") + "/com12\n");
    EXPECT_EQ(test::ReadFile(folder.File("log.txt")), "PORT LIST: 12\n");

    sim->Signal(SIGTERM);
    sim->Wait();
    EXPECT_FALSE(std::filesystem::exists(folder.File("ports") + "/com12"));
    EXPECT_EQ(Cli({"ports"})->Out(), "PORT LIST: \n");
}

TEST_F(CliEndToEnd, FailsCleanlyWhereNothingAnswers) {
    test::PtyPeer silent(folder.File("ports"), 4);
    auto start = std::chrono::steady_clock::now();
    auto cli = Cli({"ping", "--port", "4", "--lang", "ru"});
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(cli->Wait(), 1);
    EXPECT_EQ(cli->Out(), "Тест связи 1: 0\n");
    EXPECT_LT(took, 10s);  // three attempts of 700 ms, no hang

    auto missing = Cli({"ping", "--port", "9", "--log", folder.File("log.txt")});
    EXPECT_EQ(missing->Wait(), 1);
    EXPECT_EQ(missing->Err(), "Cannot open port COM 9\n");
    EXPECT_EQ(test::ReadFile(folder.File("log.txt")), "Open COM 9 : Error\n");
}

TEST_F(CliEndToEnd, RefusesABadCommandLine) {
    EXPECT_EQ(Cli({})->Wait(), 2);
    EXPECT_EQ(Cli({"ping"})->Wait(), 2);
    EXPECT_EQ(Cli({"ping", "--port", "x"})->Wait(), 2);
    EXPECT_EQ(Cli({"ping", "--port", "3", "--count", "0"})->Wait(), 2);
    EXPECT_EQ(Cli({"ports", "--lang", "de"})->Wait(), 2);
    EXPECT_EQ(Cli({"frobnicate"})->Wait(), 2);
}

}  // namespace
}  // namespace kalvo
