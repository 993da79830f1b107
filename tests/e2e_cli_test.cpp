// kalvo-cli against kalvo-devsim and against a port where nothing answers: real processes,
// real pseudo-terminals, real time-outs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/process.h"
#include "support/pty_peer.h"
#include "support/temp_folder.h"

namespace kalvo {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountLines(const std::string& text, const std::string& line) {
    int count = 0;
    std::istringstream in(text);
    for (std::string each; std::getline(in, each);) count += each == line;
    return count;
}

class CliEndToEnd : public ::testing::Test {
protected:
    test::Environment Env() const {
        return {{"KALVO_PORTS_DIR", folder.File("ports")}, {"KALVO_SYSTEM_PORTS", "0"}};
    }

    // Starts the simulator as COM n and waits for its ready line.
    std::unique_ptr<test::Process> StartSim(int com, std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{KALVO_DEVSIM_PATH, "--com", std::to_string(com)};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto sim = std::make_unique<test::Process>(argv, Env());
        auto ready = sim->ReadLine(10s);
        EXPECT_TRUE(ready && ready->rfind("kalvo-devsim: COM " + std::to_string(com) + " ", 0) == 0)
            << (ready ? *ready : "no ready line");
        return sim;
    }

    std::unique_ptr<test::Process> Cli(std::vector<std::string> args) {
        args.insert(args.begin(), KALVO_CLI_PATH);
        auto cli = std::make_unique<test::Process>(args, Env());
        cli->Wait();
        return cli;
    }

    test::TempFolder folder;
};

TEST_F(CliEndToEnd, PingsTheSimulatorFiftyTimes) {
    auto sim = StartSim(7);
    auto cli = Cli({"ping", "--port", "7", "--count", "50", "--log", folder.File("log.txt")});
    EXPECT_EQ(cli->Wait(), 0) << cli->Err();
    for (int i = 1; i <= 50; ++i)
        EXPECT_EQ(CountLines(cli->Out(), "Connection test " + std::to_string(i) + ": 1"), 1) << i;
    EXPECT_EQ(ReadFile(folder.File("log.txt")), "Open COM 7 : OK\nClose COM 7 : OK\n");
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
    EXPECT_EQ(ReadFile(folder.File("log.txt")), "PORT LIST: 12\n");

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
    EXPECT_EQ(ReadFile(folder.File("log.txt")), "Open COM 9 : Error\n");
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
