// kalvo-cli doctor and ports --verbose as the user runs them, on a fake machine; --help and
// --version of every executable.
#include <gtest/gtest.h>

#include "diagnose/fake_system.h"
#include "support/process.h"

namespace kalvo {
namespace {

using test::Process;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome RunProgram(const std::vector<std::string>& argv, const test::Environment& env = {}) {
    Process process(argv, env);
    int status = process.Wait();
    return {status, process.Out(), process.Err()};
}

TEST(CliDoctor, HealthyAndEmptyMachinesAndVerbosePorts) {
    test::FakeSystem fake;
    fake.Groups("");
    fake.Adapter({"1-1", "1a86", "7523", "", "USB Serial", "", "ttyUSB0", "ch341-uart", "ch341", 0660,
                  "usb-1a86_USB_Serial-if00-port0"});
    test::TempFolder links;
    std::filesystem::create_symlink(fake.Real("/dev/ttyUSB0"), links.File("com5"));
    std::filesystem::create_symlink("/nonexistent/kalvo", links.File("com6"));  // gone: not listed
    const test::Environment env{{"KALVO_SYSTEM_ROOT", fake.Root()}, {"KALVO_PORTS_DIR", links.Path()},
                                {"KALVO_SYSTEM_PORTS", "0"}};

    // The node is ours (or we are root): nothing is wrong.
    Outcome doctor = RunProgram({KALVO_CLI_PATH, "doctor"}, env);
    EXPECT_EQ(doctor.status, 0) << doctor.out << doctor.err;
    EXPECT_NE(doctor.out.find("  COM 101  /dev/ttyUSB0  (also COM 5 by your link)\n"
                              "      USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id "
                              "usb-1a86_USB_Serial-if00-port0\n"),
              std::string::npos)
        << doctor.out;
    EXPECT_NE(doctor.out.find("\nNo problems found.\n"), std::string::npos) << doctor.out;

    Outcome ports = RunProgram({KALVO_CLI_PATH, "ports", "--verbose"}, env);
    EXPECT_EQ(ports.status, 0) << ports.err;
    EXPECT_EQ(ports.out, "PORT LIST: 5\nCOM 5 " + links.File("com5") +
                             "  USB 1a86:7523 (CH340), \"USB Serial\", driver ch341-uart, by-id "
                             "usb-1a86_USB_Serial-if00-port0\n");
    Outcome plain = RunProgram({KALVO_CLI_PATH, "ports"}, env);
    EXPECT_EQ(plain.out, "PORT LIST: 5\nCOM 5 " + links.File("com5") + "\n");

    test::FakeSystem empty;
    Outcome none = RunProgram({KALVO_CLI_PATH, "doctor"}, {{"KALVO_SYSTEM_ROOT", empty.Root()},
                                                       {"KALVO_PORTS_DIR", links.Path() + "/none"}});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.out.find("Serial devices:\n  none\n"), std::string::npos) << none.out;
    EXPECT_NE(none.out.find("1. No serial device found."), std::string::npos) << none.out;
}

TEST(GnuOptions, HelpAndVersionOfEveryProgram) {
    std::vector<std::string> programs{KALVO_CLI_PATH, KALVO_DEVSIM_PATH};
#ifdef KALVO_EXPLORER_PATH
    programs.push_back(KALVO_EXPLORER_PATH);
#endif
    for (const std::string& path : programs) {
        const std::string name = path.substr(path.rfind('/') + 1);
        Outcome version = RunProgram({path, "--version"}, {{"QT_QPA_PLATFORM", "offscreen"}});
        EXPECT_EQ(version.status, 0) << name;
        EXPECT_EQ(version.out, name + " (Kalvo Explorer) 1.7\nCopyright (C) 2026 the Kalvo Explorer developers.\n"
                                      "There is NO WARRANTY, to the extent permitted by law.\n");
        EXPECT_EQ(version.err, "");
        for (const char* help : {"--help", "-h"}) {
            Outcome usage = RunProgram({path, help});
            EXPECT_EQ(usage.status, 0) << name;
            EXPECT_EQ(usage.out.rfind("Usage: " + name + " ", 0), 0u) << usage.out;
            EXPECT_NE(usage.out.find("  -h, --help "), std::string::npos) << name;
            EXPECT_NE(usage.out.find("      --version "), std::string::npos) << name;
        }
    }
    // Wherever they stand on kalvo-cli's line; a bad line still goes to stderr with status 2.
    EXPECT_EQ(RunProgram({KALVO_CLI_PATH, "identify", "--help"}).status, 0);
    Outcome bad = RunProgram({KALVO_CLI_PATH, "frobnicate"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("Usage: kalvo-cli COMMAND [OPTION]..."), std::string::npos);
}

}  // namespace
}  // namespace kalvo
