// kalvo-devsim: a simulated dosimeter on a pseudo-terminal, for tests, benchmarks and demos.
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devsim/command_line.h"
#include "devsim/device_commands.h"
#include "devsim/simulator.h"
#include "i18n/program_info.h"
#include "platform/port_directory.h"

using namespace kalvo::devsim;

namespace {

// The line scripts wait for: the port exists and requests are served from now on.
void PrintReadyLine(const SimConfig& config, const std::string& slavePath) {
    if (config.com) {
        std::printf("kalvo-devsim: COM %d %s\n", *config.com, slavePath.c_str());
    } else {
        std::printf("kalvo-devsim: %s\n", slavePath.c_str());
    }
    std::fflush(stdout);
}

bool Dump(const SimDevice& device, const DumpFiles& files) {
    std::string error;
    if (!files.Any() || WriteDumps(device, files, error)) return true;
    std::fprintf(stderr, "kalvo-devsim: %s\n", error.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    ParseOutcome parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.config) {
        std::fprintf(stderr, "kalvo-devsim: %s\n%s", parsed.error.c_str(), UsageText().c_str());
        return 2;
    }
    const SimConfig& config = *parsed.config;
    if (config.help || config.version) {
        std::fputs(config.help ? UsageText().c_str() : kalvo::GnuVersionText("kalvo-devsim").c_str(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    // Blocked before anything else, so a stop request can only arrive through the signalfd and
    // the loop ends normally, taking the comN link away on its way out. SIGUSR1 asks for the
    // dumps while running.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGHUP);
    sigaddset(&handled, SIGUSR1);
    int signalFd = -1;
    if (::sigprocmask(SIG_BLOCK, &handled, nullptr) != 0 ||
        (signalFd = ::signalfd(-1, &handled, SFD_CLOEXEC)) < 0) {
        std::fprintf(stderr, "kalvo-devsim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    Trace trace;
    if (!config.traceFile.empty() && !trace.Open(config.traceFile)) {
        std::fprintf(stderr, "kalvo-devsim: cannot write %s: %s\n", config.traceFile.c_str(), std::strerror(errno));
        return 1;
    }

    SimDevice device(config.device);
    if (!config.screenLog.empty() && !device.Screen().Open(config.screenLog)) {
        std::fprintf(stderr, "kalvo-devsim: cannot write %s: %s\n", config.screenLog.c_str(), std::strerror(errno));
        return 1;
    }
    const CommandTable commands = MakeDeviceCommandTable();
    Simulator simulator(device, commands, config.faults, config.baud, trace);
    simulator.SetResetDowntime(config.resetDowntime);
    simulator.SetExactLine(config.exactLine);
    // The line's byte times are tens of microseconds; the default timer slack would add 50 to
    // every paced wake-up.
    if (config.exactLine) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    simulator.OnPortReopened([&config](const std::string& slavePath) { PrintReadyLine(config, slavePath); });
    std::string folder = config.com ? kalvo::PortDirectory::FromEnvironment().LinksFolder() : std::string();
    std::string error;
    if (!simulator.Start(config.com, folder, error)) {
        std::fprintf(stderr, "kalvo-devsim: %s\n", error.c_str());
        return 1;
    }
    PrintReadyLine(config, simulator.SlavePath());

    simulator.Run(signalFd, [&] {
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return false;
        if (info.ssi_signo != SIGUSR1) return true;
        Dump(device, config.dumps);
        trace.Note("dumps written on SIGUSR1");
        return false;
    });
    ::close(signalFd);
    // A test reads the dumps: one that could not be written fails the run.
    return Dump(device, config.dumps) ? 0 : 1;
}
