// kalvo_pty_pair: null-modem cables made of pseudo-terminals, for the Windows tests under Wine.
//   kalvo_pty_pair FOLDER A B [C D ...]
// joins FOLDER/comA and FOLDER/comB (and C with D, ...): what one side writes the other reads.
// Prints "ready" once the links exist; ends on SIGINT or SIGTERM, removing the links.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "pty_transport.h"

using kalvo::devsim::PortPublication;
using kalvo::devsim::PtyPort;

namespace {

// Copies what is waiting on `from` to `to`; false when `from` is gone.
bool Forward(int from, int to) {
    unsigned char buffer[4096];
    ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    if (n == 0) return false;
    for (ssize_t done = 0; done < n;) {
        ssize_t w = ::write(to, buffer + done, static_cast<std::size_t>(n - done));
        if (w < 0 && errno != EINTR && errno != EAGAIN) return false;
        // The far side's queue is full: it gets the rest as it drains, in order.
        if (w < 0) {
            pollfd out{to, POLLOUT, 0};
            ::poll(&out, 1, -1);
            continue;
        }
        done += w;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (argc - 2) % 2 != 0) {
        std::fprintf(stderr, "usage: kalvo_pty_pair FOLDER A B [C D ...]\n");
        return 2;
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigprocmask(SIG_BLOCK, &stop, nullptr);
    int stopFd = signalfd(-1, &stop, SFD_CLOEXEC);

    std::string folder = argv[1];
    std::vector<PtyPort> ports;
    std::vector<PortPublication> links;
    for (int i = 2; i < argc; ++i) {
        std::string error;
        std::optional<PtyPort> port = PtyPort::Open(error);
        if (!port) {
            std::fprintf(stderr, "kalvo_pty_pair: %s\n", error.c_str());
            return 1;
        }
        std::optional<PortPublication> link =
            PortPublication::Publish(folder, std::atoi(argv[i]), port->SlavePath(), error);
        if (!link) {
            std::fprintf(stderr, "kalvo_pty_pair: %s\n", error.c_str());
            return 1;
        }
        ports.push_back(std::move(*port));
        links.push_back(std::move(*link));
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<pollfd> fds{{stopFd, POLLIN, 0}};
    for (const PtyPort& port : ports) fds.push_back({port.MasterFd(), POLLIN, 0});
    for (;;) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if (fds[0].revents) return 0;
        for (std::size_t i = 0; i < ports.size(); ++i) {
            if (!fds[i + 1].revents) continue;
            const PtyPort& other = ports[i ^ 1];
            if (!Forward(ports[i].MasterFd(), other.MasterFd())) return 1;
        }
    }
}
