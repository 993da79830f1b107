// The simulator on a real pseudo-terminal: in-process (Simulator on a thread, stopped through an
// eventfd) and as the kalvo-devsim program (ready line, link, signals, exit status).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "devsim/device_commands.h"
#include "devsim/simulator.h"
#include "devsim_test_support.h"
#include "link/frame_codec.h"

extern char** environ;

namespace kalvo::devsim {
namespace {

using test::With;

using Bytes = std::vector<std::uint8_t>;

using namespace std::chrono_literals;

// Bounds a wait that normally ends at once; only a broken simulator ever reaches it.
constexpr auto kPatience = 5s;

Bytes EchoRequest(std::string_view echo, int channel = 1) {
    Bytes payload{0x01, 0x00};
    payload.insert(payload.end(), echo.begin(), echo.end());
    return EncodeFrame(BuildRequestFrame(channel, payload));
}

Bytes Request(const Bytes& payload, int channel = 1) { return EncodeFrame(BuildRequestFrame(channel, payload)); }

const Bytes kSoftInfoRequest = {0x01, 0x01};
const Bytes kResetToBoot = {0x01, 0x05, 0x03, 0x00, 0x00, 0x00, 0x0A};
const Bytes kResetToMain = {0x01, 0x05, 0x02, 0x00, 0x00, 0x00, 0x0A};
const Bytes kResetAnswerFrame = {0x00, 0x01, 0x00, 0x01, 0x41, 0x05};

// Main version of a SoftInfo answer frame (header, code, boot version, main version...).
std::optional<std::uint16_t> MainVersionOf(const std::optional<Bytes>& frame) {
    if (!frame || frame->size() != 14) return std::nullopt;
    return static_cast<std::uint16_t>((*frame)[8] | (*frame)[9] << 8);
}

Bytes EchoAnswerFrame(std::string_view echo, int channel = 1) {
    Bytes frame{0x00, static_cast<std::uint8_t>(channel), 0x00, 0x01, 0x41, 0x00};
    frame.insert(frame.end(), echo.begin(), echo.end());
    return frame;
}

class TempFolder {
public:
    TempFolder() {
        char pattern[] = "/tmp/devsim-test-XXXXXX";
        path_ = ::mkdtemp(pattern) ? pattern : "";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }
    std::string Ports() const { return path_ + "/ports"; }

private:
    std::string path_;
};

// The program's side of the line: opens the port like it does and reads whole frames.
class ProgramSide {
public:
    explicit ProgramSide(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~ProgramSide() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    void Send(const Bytes& wire) { ASSERT_EQ(::write(fd_, wire.data(), wire.size()), static_cast<ssize_t>(wire.size())); }

    // The next complete frame (header first), or nothing on hang-up or after `limit`.
    std::optional<Bytes> NextFrame(std::chrono::milliseconds limit = kPatience) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            while (!pending_.empty()) {
                std::uint8_t byte = pending_.front();
                pending_.pop_front();
                if (codec_.Decode(byte)) return Bytes(codec_.Frame(), codec_.Frame() + codec_.FrameLength());
            }
            if (!WaitReadable(deadline)) return std::nullopt;
            std::uint8_t buffer[512];
            ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            pending_.insert(pending_.end(), buffer, buffer + n);
        }
    }

    // True when the line hangs up before `limit`.
    bool WaitHangUp(std::chrono::milliseconds limit = kPatience) {
        auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < 0) return false;
            pollfd pfd{fd_, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
            if (pfd.revents & (POLLHUP | POLLERR)) return true;
            std::uint8_t buffer[512];
            if (::read(fd_, buffer, sizeof buffer) <= 0) return true;
        }
    }

private:
    bool WaitReadable(std::chrono::steady_clock::time_point deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        pollfd pfd{fd_, POLLIN, 0};
        return ::poll(&pfd, 1, static_cast<int>(left.count())) > 0 && (pfd.revents & POLLIN);
    }

    int fd_ = -1;
    FrameCodec codec_;
    std::deque<std::uint8_t> pending_;
};

// A simulator running on its own thread for the length of a test.
class RunningSimulator {
public:
    explicit RunningSimulator(FaultOptions faults = {}, std::optional<int> com = 7, int baud = 0,
                              std::chrono::milliseconds resetDowntime = kDefaultResetDowntime)
        : device_(SimOptions::ForModel(Model::R630)),
          commands_(MakeDeviceCommandTable()),
          stop_(::eventfd(0, EFD_CLOEXEC)) {
        trace_.Open(folder_.Path() + "/trace.txt");
        simulator_.emplace(device_, commands_, faults, baud, trace_);
        simulator_->SetResetDowntime(resetDowntime);
        simulator_->OnPortReopened([this](const std::string&) {
            std::lock_guard lock(mutex_);
            ++reopened_;
            reopenedChanged_.notify_all();
        });
        std::string error;
        slavePath_ = simulator_->Start(com, folder_.Ports(), error) ? simulator_->SlavePath() : "";
        EXPECT_FALSE(slavePath_.empty()) << error;
        if (!slavePath_.empty()) thread_ = std::thread([this] { simulator_->Run(stop_); });
    }
    ~RunningSimulator() {
        Shutdown();
        ::close(stop_);
    }

    void Stop() {
        std::uint64_t one = 1;
        if (thread_.joinable()) {
            EXPECT_EQ(::write(stop_, &one, sizeof one), static_cast<ssize_t>(sizeof one));
            thread_.join();
        }
    }
    // Stopped and gone, as at the end of the program.
    void Shutdown() {
        Stop();
        simulator_.reset();
    }
    std::string LinkPath() const { return folder_.Ports() + "/com7"; }
    // True once the device has come back from `count` restarts.
    bool WaitReopened(int count) {
        std::unique_lock lock(mutex_);
        return reopenedChanged_.wait_for(lock, kPatience, [&] { return reopened_ >= count; });
    }
    const std::string& SlavePath() const { return slavePath_; }
    std::string TraceText() const {
        std::ifstream in(folder_.Path() + "/trace.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    TempFolder folder_;
    SimDevice device_;
    CommandTable commands_;
    Trace trace_;
    int stop_;
    std::optional<Simulator> simulator_;
    std::string slavePath_;
    std::mutex mutex_;
    std::condition_variable reopenedChanged_;
    int reopened_ = 0;
    std::thread thread_;
};

bool IsLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

TEST(PtySimulator, AnswersTheConnectionTestThroughThePublishedPort) {
    RunningSimulator sim;
    ASSERT_TRUE(IsLink(sim.LinkPath()));
    EXPECT_EQ(std::filesystem::read_symlink(sim.LinkPath()).string(), sim.SlavePath());
    ProgramSide program(sim.LinkPath());
    ASSERT_TRUE(program.IsOpen());
    program.Send(EchoRequest("Vantegor"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("Vantegor"));
    sim.Shutdown();
    EXPECT_FALSE(IsLink(sim.LinkPath()));
    std::string trace = sim.TraceText();
    EXPECT_NE(trace.find("> ch1 01 00 56 61 6E 74 65 67 6F 72\n< ch1 41 00 56 61 6E 74 65 67 6F 72\n"),
              std::string::npos)
        << trace;
}

TEST(PtySimulator, AnswersOnTheRequestingChannel) {
    RunningSimulator sim;
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("two", 2));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("two", 2));
}

TEST(PtySimulator, UnknownCommandIsNotAnsweredButTraced) {
    RunningSimulator sim;
    ProgramSide program(sim.LinkPath());
    program.Send(EncodeFrame(BuildRequestFrame(1, Bytes{0x01, 0x7F, 0x00})));
    program.Send(EchoRequest("after"));
    // The first answer on the line is the one to the echo.
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("after"));
    EXPECT_NE(sim.TraceText().find("! unknown command 01 7F on ch1: no answer\n"), std::string::npos);
}

TEST(PtySimulator, ProgramMayCloseAndReopenThePort) {
    RunningSimulator sim;
    for (std::string echo : {"first", "second"}) {
        ProgramSide program(sim.LinkPath());
        program.Send(EchoRequest(echo));
        EXPECT_EQ(program.NextFrame(), EchoAnswerFrame(echo));
    }
}

TEST(PtySimulator, DroppedRequestGetsNoAnswer) {
    RunningSimulator sim(With(&FaultOptions::dropRequestEvery, 2));
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("one"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("one"));
    program.Send(EchoRequest("two"));
    program.Send(EchoRequest("three"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("three"));
    EXPECT_NE(sim.TraceText().find("! drop request 2\n"), std::string::npos);
}

TEST(PtySimulator, CorruptedAnswerIsDroppedByTheReceiver) {
    RunningSimulator sim(With(&FaultOptions::flipBitEvery, 2));
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("one"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("one"));
    program.Send(EchoRequest("two"));
    program.Send(EchoRequest("three"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("three"));
}

TEST(PtySimulator, DelayedAnswerComesNoSoonerThanAsked) {
    RunningSimulator sim(With(&FaultOptions::answerDelay, std::chrono::milliseconds(150)));
    ProgramSide program(sim.LinkPath());
    auto sent = std::chrono::steady_clock::now();
    program.Send(EchoRequest("late"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("late"));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
}

TEST(PtySimulator, PacedAnswerArrivesWhole) {
    RunningSimulator sim({}, 7, 9600);
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("0123456789ABCDEF"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("0123456789ABCDEF"));
}

TEST(PtySimulator, VanishesAfterTheAnswersAsIfUnplugged) {
    RunningSimulator sim(With(&FaultOptions::vanishAfter, std::optional<unsigned>(2)));
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("one"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("one"));
    program.Send(EchoRequest("two"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("two"));
    EXPECT_TRUE(program.WaitHangUp());
    EXPECT_FALSE(IsLink(sim.LinkPath()));
    EXPECT_NE(sim.TraceText().find("! vanish after 2 answers"), std::string::npos);
}

TEST(PtySimulator, WithoutNumberNothingIsPublished) {
    RunningSimulator sim({}, std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(sim.LinkPath()));
    ProgramSide program(sim.SlavePath());
    program.Send(EchoRequest("direct"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("direct"));
}

TEST(PtySimulator, ResetTakesTheLineDownAndComesBackInTheAskedMode) {
    RunningSimulator sim({}, 7, 0, 50ms);
    int restarts = 0;
    for (auto [reset, mainVersion] : {std::pair{kResetToBoot, 0}, std::pair{kResetToMain, 0x0C09}}) {
        {
            ProgramSide program(sim.LinkPath());
            program.Send(Request(reset));
            EXPECT_EQ(program.NextFrame(), kResetAnswerFrame);
            EXPECT_TRUE(program.WaitHangUp());
        }
        ASSERT_TRUE(sim.WaitReopened(++restarts));
        ASSERT_TRUE(IsLink(sim.LinkPath()));
        ProgramSide program(sim.LinkPath());
        program.Send(Request(kSoftInfoRequest));
        EXPECT_EQ(MainVersionOf(program.NextFrame()), mainVersion);
        // The device answers on every channel again after its restart.
        program.Send(EchoRequest("flash", 3));
        EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("flash", 3));
    }
    std::string trace = sim.TraceText();
    EXPECT_NE(trace.find("! restart into the boot loader: port closed for 50 ms\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("! back in the boot loader on /dev/pts/"), std::string::npos) << trace;
    EXPECT_NE(trace.find("! back in the main firmware on /dev/pts/"), std::string::npos) << trace;
}

TEST(PtySimulator, FaultsGoOnAcrossARestart) {
    RunningSimulator sim(With(&FaultOptions::dropRequestEvery, 3), 7, 0, 20ms);
    {
        ProgramSide program(sim.LinkPath());
        program.Send(EchoRequest("one"));
        EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("one"));
        program.Send(Request(kResetToBoot));  // request 2
        EXPECT_EQ(program.NextFrame(), kResetAnswerFrame);
        EXPECT_TRUE(program.WaitHangUp());
    }
    ASSERT_TRUE(sim.WaitReopened(1));
    ProgramSide program(sim.LinkPath());
    program.Send(EchoRequest("three"));  // request 3: dropped
    program.Send(EchoRequest("four"));
    EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("four"));
}

// ---- publication -----------------------------------------------------------------------------

TEST(PortPublication, ReplacesALinkLeftBehindAndRemovesItsOwn) {
    TempFolder folder;
    std::filesystem::create_directories(folder.Ports());
    std::string link = folder.Ports() + "/com3";
    std::filesystem::create_symlink("/dev/pts/no-such", link);
    std::string error;
    {
        auto published = PortPublication::Publish(folder.Ports(), 3, "/dev/pts/9999", error);
        ASSERT_TRUE(published) << error;
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), "/dev/pts/9999");
    }
    EXPECT_FALSE(IsLink(link));
}

TEST(PortPublication, SecondSimulatorOnTheSameNumberIsRefused) {
    TempFolder folder;
    std::string error;
    auto first = PortPublication::Publish(folder.Ports(), 4, "/dev/pts/1", error);
    ASSERT_TRUE(first) << error;
    EXPECT_FALSE(PortPublication::Publish(folder.Ports(), 4, "/dev/pts/2", error));
    EXPECT_NE(error.find("COM 4"), std::string::npos);
    EXPECT_EQ(std::filesystem::read_symlink(first->LinkPath()).string(), "/dev/pts/1");
    first->Withdraw();
    EXPECT_TRUE(PortPublication::Publish(folder.Ports(), 4, "/dev/pts/2", error)) << error;
}

TEST(PortPublication, LeavesAFileThatIsNotALinkAlone) {
    TempFolder folder;
    std::filesystem::create_directories(folder.Ports());
    std::ofstream(folder.Ports() + "/com5") << "mine";
    std::string error;
    EXPECT_FALSE(PortPublication::Publish(folder.Ports(), 5, "/dev/pts/1", error));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder.Ports() + "/com5"));
}

TEST(PortPublication, WithdrawKeepsALinkSomebodyElseReplaced) {
    TempFolder folder;
    std::string error;
    auto published = PortPublication::Publish(folder.Ports(), 6, "/dev/pts/1", error);
    ASSERT_TRUE(published) << error;
    std::filesystem::remove(published->LinkPath());
    std::filesystem::create_symlink("/dev/ttyUSB0", published->LinkPath());
    published->Withdraw();
    EXPECT_EQ(std::filesystem::read_symlink(folder.Ports() + "/com6").string(), "/dev/ttyUSB0");
}

// ---- the program -----------------------------------------------------------------------------

struct Child {
    pid_t pid = -1;
    int out = -1;  // its stdout
    int err = -1;  // its stderr
};

Child Spawn(const std::vector<std::string>& arguments, const std::string& portsFolder) {
    int out[2], err[2];
    Child child;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return child;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> environment = {"KALVO_PORTS_DIR=" + portsFolder};
    for (char** e = environ; *e; ++e) {
        if (std::string_view(*e).starts_with("KALVO_PORTS_DIR=")) continue;
        environment.emplace_back(*e);
    }
    std::vector<char*> envp, argv;
    for (std::string& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = arguments;
    args.insert(args.begin(), KALVO_DEVSIM_PATH);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&child.pid, KALVO_DEVSIM_PATH, &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    child.out = out[0];
    child.err = err[0];
    return child;
}

// Reads until end of file or one full line (with `untilNewline`); poll bounds the wait.
std::string ReadFrom(int fd, bool untilNewline) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd pfd{fd, POLLIN, 0};
        if (left.count() < 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return text;
        char c[256];
        ssize_t n = ::read(fd, c, untilNewline ? 1 : sizeof c);
        if (n <= 0) return text;
        text.append(c, static_cast<std::size_t>(n));
        if (untilNewline && text.back() == '\n') return text;
    }
}

int WaitExit(const Child& child) {
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.out);
    ::close(child.err);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(DevsimProgram, PrintsTheReadyLinePublishesAndCleansUpOnSigterm) {
    TempFolder folder;
    Child child = Spawn({"--com", "7", "--trace", folder.Path() + "/trace.txt"}, folder.Ports());
    ASSERT_GT(child.pid, 0);
    std::string ready = ReadFrom(child.out, true);
    std::string link = folder.Ports() + "/com7";
    ASSERT_TRUE(ready.starts_with("kalvo-devsim: COM 7 /dev/pts/")) << ready;
    EXPECT_EQ(ready, "kalvo-devsim: COM 7 " + std::filesystem::read_symlink(link).string() + "\n");
    {
        ProgramSide program(link);
        program.Send(EchoRequest("Vantegor"));
        EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("Vantegor"));
    }
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child), 0);
    EXPECT_FALSE(IsLink(link));
}

TEST(DevsimProgram, CleansUpOnSigint) {
    TempFolder folder;
    Child child = Spawn({"--com", "9"}, folder.Ports() + "/made/on/demand");
    ASSERT_GT(child.pid, 0);
    std::string ready = ReadFrom(child.out, true);
    ASSERT_TRUE(ready.starts_with("kalvo-devsim: COM 9 ")) << ready;
    EXPECT_TRUE(IsLink(folder.Ports() + "/made/on/demand/com9"));
    ::kill(child.pid, SIGINT);
    EXPECT_EQ(WaitExit(child), 0);
    EXPECT_FALSE(IsLink(folder.Ports() + "/made/on/demand/com9"));
}

TEST(DevsimProgram, WithoutComPrintsTheSlavePath) {
    TempFolder folder;
    Child child = Spawn({"--model", "r520"}, folder.Ports());
    ASSERT_GT(child.pid, 0);
    std::string ready = ReadFrom(child.out, true);
    EXPECT_TRUE(ready.starts_with("kalvo-devsim: /dev/pts/")) << ready;
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child), 0);
}

TEST(DevsimProgram, RestartPrintsTheReadyLineAgainAndDumpsAreWritten) {
    TempFolder folder;
    std::string history = folder.Path() + "/history.bin", screen = folder.Path() + "/screen.txt";
    Child child = Spawn({"--com", "7", "--reset-downtime-ms", "50", "--history", "short", "--dump-history", history,
                         "--screen-log", screen},
                        folder.Ports());
    ASSERT_GT(child.pid, 0);
    ASSERT_TRUE(ReadFrom(child.out, true).starts_with("kalvo-devsim: COM 7 /dev/pts/"));
    std::string link = folder.Ports() + "/com7";
    {
        ProgramSide program(link);
        Bytes text = {0x01, 0x06, 'C', 'O', 'M', ' ', '7', 0, 0, 0, 0, 0, 0, 0, 0, 0};
        program.Send(Request(text));
        EXPECT_EQ(program.NextFrame(), (Bytes{0x00, 0x01, 0x00, 0x01, 0x41, 0x06}));
        program.Send(Request(kResetToBoot));
        EXPECT_EQ(program.NextFrame(), kResetAnswerFrame);
        EXPECT_TRUE(program.WaitHangUp());
    }
    std::string again = ReadFrom(child.out, true);
    EXPECT_EQ(again, "kalvo-devsim: COM 7 " + std::filesystem::read_symlink(link).string() + "\n");
    {
        ProgramSide program(link);
        program.Send(Request(kSoftInfoRequest));
        EXPECT_EQ(MainVersionOf(program.NextFrame()), 0);
        // The signal is pending before the request is sent, so the answer comes after the dump.
        ::kill(child.pid, SIGUSR1);
        program.Send(EchoRequest("after"));
        EXPECT_EQ(program.NextFrame(), EchoAnswerFrame("after"));
    }
    ASSERT_TRUE(std::filesystem::exists(history));
    auto size = std::filesystem::file_size(history);
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % 16, 0u);
    std::filesystem::remove(history);
    ::kill(child.pid, SIGTERM);
    EXPECT_EQ(WaitExit(child), 0);
    EXPECT_EQ(std::filesystem::file_size(history), size);  // again at exit
    std::ifstream in(screen);
    std::stringstream lines;
    lines << in.rdbuf();
    EXPECT_EQ(lines.str(), "PC_CONNECTION COM 7\n");
}

TEST(DevsimProgram, UnknownOptionGivesUsageAndStatus2) {
    TempFolder folder;
    Child child = Spawn({"--no-such-option"}, folder.Ports());
    ASSERT_GT(child.pid, 0);
    std::string err = ReadFrom(child.err, false);
    EXPECT_EQ(ReadFrom(child.out, false), "");
    EXPECT_EQ(WaitExit(child), 2);
    EXPECT_NE(err.find("Usage: kalvo-devsim"), std::string::npos) << err;
}

}  // namespace
}  // namespace kalvo::devsim
