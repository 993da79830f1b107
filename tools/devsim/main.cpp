// kalvo-devsim: a simulated dosimeter on a pseudo-terminal, for tests, benchmarks and demos.
#include <signal.h>
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
#include "platform/port_directory.h"

using namespace kalvo::devsim;

int main(int argc, char** argv) {
    ParseOutcome parsed = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.config) {
        std::fprintf(stderr, "kalvo-devsim: %s\n%s", parsed.error.c_str(), UsageText().c_str());
        return 2;
    }
    const SimConfig& config = *parsed.config;
    if (config.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }

    // Blocked before anything else, so a stop request can only arrive through the signalfd and
    // the loop ends normally, taking the comN link away on its way out.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    int stopFd = -1;
    if (::sigprocmask(SIG_BLOCK, &stops, nullptr) != 0 || (stopFd = ::signalfd(-1, &stops, SFD_CLOEXEC)) < 0) {
        std::fprintf(stderr, "kalvo-devsim: signalfd: %s\n", std::strerror(errno));
        return 1;
    }

    Trace trace;
    if (!config.traceFile.empty() && !trace.Open(config.traceFile)) {
        std::fprintf(stderr, "kalvo-devsim: cannot write %s: %s\n", config.traceFile.c_str(), std::strerror(errno));
        return 1;
    }

    SimDevice device(config.device);
    const CommandTable commands = MakeDeviceCommandTable();
    Simulator simulator(device, commands, config.faults, config.baud, trace);
    std::string folder = config.com ? kalvo::PortDirectory::FromEnvironment().LinksFolder() : std::string();
    std::string error;
    if (!simulator.Start(config.com, folder, error)) {
        std::fprintf(stderr, "kalvo-devsim: %s\n", error.c_str());
        return 1;
    }

    // The one line scripts wait for: the port exists and requests are served from now on.
    if (config.com) {
        std::printf("kalvo-devsim: COM %d %s\n", *config.com, simulator.SlavePath().c_str());
    } else {
        std::printf("kalvo-devsim: %s\n", simulator.SlavePath().c_str());
    }
    std::fflush(stdout);

    simulator.Run(stopFd);
    ::close(stopFd);
    return 0;
}
