// kalvo-cli against kalvo-devsim and against a port where nothing answers: real processes,
// real pseudo-terminals, real time-outs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

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
    EXPECT_EQ(Cli({"ping", "--port", "251"})->Wait(), 2);
    EXPECT_EQ(Cli({"ping", "--port", "250", "--log", ""})->Wait(), 2);
    EXPECT_EQ(Cli({"history", "--port", "4", "--chart", "day", "--at", ""})->Wait(), 2);
    EXPECT_EQ(Cli({"history", "--port", "4", "--chart", "day", "--at", "2100-01-01 00:00:00"})->Wait(), 2);
    EXPECT_EQ(Cli({"history", "--port", "4", "--csv", ""})->Wait(), 2);
    // The simulator takes only numbers the program can use.
    test::Process sim({KALVO_DEVSIM_PATH, "--com", "251"}, Env());
    EXPECT_EQ(sim.Wait(), 2);
    // A dump it cannot write fails its run.
    auto dumping = StartSim(6, {"--dump-history", folder.File("missing/history.bin")});
    dumping->Signal(SIGTERM);
    EXPECT_EQ(dumping->Wait(), 1);
    EXPECT_NE(dumping->Err().find("cannot write " + folder.File("missing/history.bin")), std::string::npos);
}

// A port held by another program is named as such, with the holder's process id.
TEST_F(CliEndToEnd, SaysWhenAPortIsInUse) {
    auto sim = StartSim(5);
    int fd = ::open((folder.File("ports") + "/com5").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const std::string busy = "COM 5 is in use by another program (process " + std::to_string(::getpid()) + ")\n";
    auto ping = Cli({"ping", "--port", "5"});
    EXPECT_EQ(ping->Wait(), 1);
    EXPECT_EQ(ping->Err(), busy);
    auto identify = Cli({"identify", "--port", "5", "--lang", "ru"});
    EXPECT_EQ(identify->Wait(), 1);
    EXPECT_EQ(identify->Err(), "COM 5 занят другой программой (процесс " + std::to_string(::getpid()) + ")\n");
    ::close(fd);
    EXPECT_EQ(Cli({"ping", "--port", "5"})->Wait(), 0);
}

}  // namespace
}  // namespace kalvo
