// kalvo-explorer as a process: the temporary folder, the log frames in log.txt, the single
// instance, and the orderly end on SIGTERM.
#include <gtest/gtest.h>
#include <sys/inotify.h>

#include <filesystem>
#include <regex>

#include "support/process.h"
#include "support/sim_fixture.h"

namespace kalvo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class StartupTest : public ::testing::Test {
protected:
    StartupTest() {
        fs::create_directories(Runtime());
        fs::permissions(Runtime(), fs::perms::owner_all);  // as a real runtime folder is
        fs::create_directories(folder.File("config"));
    }
    std::string Runtime() const { return folder.File("runtime"); }
    std::string TempFolder() const { return Runtime() + "/trv8_kalvo_explorer"; }
    test::Environment Env() const {
        return {{"XDG_RUNTIME_DIR", Runtime()},      {"XDG_CONFIG_HOME", folder.File("config")}, {"XDG_DATA_HOME", folder.File("data")},
                {"KALVO_PORTS_DIR", folder.File("ports")}, {"KALVO_SYSTEM_PORTS", "0"},
                {"QT_QPA_PLATFORM", "offscreen"},        {"KALVO_UPDATE_SERVER", ""}};
    }

    // Starts the program and returns once it holds its instance lock and has emptied its
    // temporary folder (a planted file is gone): start-up is done, and a termination signal
    // takes the orderly path.
    std::unique_ptr<test::Process> Start() {
        fs::create_directories(TempFolder());
        test::WriteFileForTest(TempFolder() + "/planted.tmp", "x");
        int watch = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(watch, Runtime().c_str(), IN_CREATE | IN_MOVED_TO);
        inotify_add_watch(watch, TempFolder().c_str(), IN_DELETE);
        auto program = std::make_unique<test::Process>(std::vector<std::string>{KALVO_EXPLORER_PATH}, Env());
        auto deadline = std::chrono::steady_clock::now() + 20s;
        bool locked = false;
        bool emptied = false;
        while (!(locked && emptied) && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{watch, POLLIN, 0};
            if (::poll(&pfd, 1, 1000) <= 0) continue;
            alignas(inotify_event) char buffer[4096];
            ssize_t n = ::read(watch, buffer, sizeof buffer);
            for (char* at = buffer; n > 0 && at < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(at);
                std::string name = event->len ? event->name : "";
                if (name == "TRV8_Kalvo_Explorer_Mutex.lock") locked = true;
                if (name == "planted.tmp" && (event->mask & IN_DELETE)) emptied = true;
                at += sizeof(inotify_event) + event->len;
            }
        }
        ::close(watch);
        EXPECT_TRUE(locked) << "no instance lock";
        EXPECT_TRUE(emptied) << "the temporary folder was not emptied";
        return program;
    }

    test::TempFolder folder;
};

TEST_F(StartupTest, EmptiesItsFolderAndWritesTheFramedLogOnSigterm) {
    fs::create_directories(TempFolder() + "/kept");
    test::WriteFileForTest(TempFolder() + "/stale.txt", "old");
    auto program = Start();
    program->Signal(SIGTERM);
    EXPECT_EQ(program->Wait(), 0) << program->Err();

    EXPECT_FALSE(fs::exists(TempFolder() + "/stale.txt"));
    EXPECT_TRUE(fs::is_directory(TempFolder() + "/kept"));
    auto lines = test::SplitLines(test::ReadFile(TempFolder() + "/log.txt"));
    ASSERT_GE(lines.size(), 6u);
    const std::string banner(42, '#');
    const std::string stamp = R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)";
    EXPECT_EQ(lines[0], banner);
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("# START: " + stamp)))
        << lines[1];
    EXPECT_EQ(lines[2], "# APP VERSION = 1.7");
    EXPECT_EQ(lines[3], banner);
    // The closing frame's first banner merges with the opening frame's last one when nothing
    // was logged in between (consecutive lines are written once).
    EXPECT_EQ(lines[lines.size() - 3], banner);
    EXPECT_TRUE(std::regex_match(lines[lines.size() - 2], std::regex("# END: " + stamp)));
    EXPECT_EQ(lines.back(), banner);
}

TEST_F(StartupTest, ASecondInstanceIsRefusedAndTouchesNothing) {
    auto first = Start();
    test::WriteFileForTest(TempFolder() + "/mine.txt", "first instance's file");

    test::Process second({KALVO_EXPLORER_PATH}, Env());
    auto message = second.ReadErrLine(20s);
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "kalvo-explorer: Приложение уже запущено!");
    second.Signal(SIGTERM);
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(fs::exists(TempFolder() + "/mine.txt"));
    EXPECT_FALSE(fs::exists(TempFolder() + "/log.txt"));

    first->Signal(SIGINT);
    EXPECT_EQ(first->Wait(), 0);
    EXPECT_TRUE(fs::exists(TempFolder() + "/log.txt"));
}

}  // namespace
}  // namespace kalvo
