// POSIX serial port: termios raw 8N1, exclusive through TIOCEXCL and flock, a reader thread
// in poll() with an eventfd for a cooperative stop.
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <set>
#include <system_error>
#include <thread>

#include "platform/serial_port.h"
#include "platform/tick_clock.h"

namespace kalvo {

namespace {

speed_t SpeedOf(int baudRate) {
    switch (baudRate) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

// Opens a port the way the program holds it: non-blocking, not our controlling terminal, and
// locked against every other opener. Returns -1 with errno set on failure.
int OpenExclusive(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // flock is what stops another of our own processes (and root, whom TIOCEXCL lets through).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
        ::close(fd);
        errno = saved == EWOULDBLOCK ? EBUSY : saved;
        return -1;
    }
    return fd;
}

bool ConfigureLine(int fd, int baudRate) {
    speed_t speed = SpeedOf(baudRate);
    termios tio{};
    if (speed == B0 || ::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNBRK | BRKINT | PARMRK);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return false;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// The process that holds `path` open and locked, when the system tells.
std::optional<int> HolderOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    std::ifstream in("/proc/locks");
    std::stringstream text;
    text << in.rdbuf();
    return LockHolderFromProcLocks(text.str(), major(info.st_dev), minor(info.st_dev),
                                   static_cast<unsigned long long>(info.st_ino));
}

}  // namespace

std::optional<int> LockHolderFromProcLocks(std::string_view procLocks, unsigned major, unsigned minor,
                                           unsigned long long inode) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF": pid, then major:minor:inode in hex, hex, decimal.
    char wanted[64];
    std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major, minor, inode);
    while (!procLocks.empty()) {
        std::size_t end = procLocks.find('\n');
        std::string line(procLocks.substr(0, end));
        procLocks = end == std::string_view::npos ? std::string_view() : procLocks.substr(end + 1);
        std::istringstream fields(line);
        std::string number, kind, mode, access, pid, file;
        if (!(fields >> number >> kind)) continue;
        // Blocked waiters are listed with "->" and hold nothing.
        if (kind == "->") continue;
        if (!(fields >> mode >> access >> pid >> file) || file != wanted) continue;
        int value = 0;
        auto [ptr, ec] = std::from_chars(pid.data(), pid.data() + pid.size(), value);
        if (ec == std::errc() && ptr == pid.data() + pid.size() && value > 0) return value;
    }
    return std::nullopt;
}

struct SerialPort::Impl {
    int fd = -1;
    int wakeFd = -1;
    int openedNumber = 0;
    std::thread reader;
    std::mutex io;  // keeps Read and Write apart
    std::set<std::string> accessHintGiven;
};

SerialPort::SerialPort(const PortDirectory& directory) : directory_(directory), impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
    // A derived class must have closed already; this only catches a port closed without one.
    if (impl_->reader.joinable()) Close();
}

bool SerialPort::IsOpen() const { return impl_->fd >= 0; }

bool SerialPort::Open(int baudRate) {
    std::string text = "Open COM " + std::to_string(portNumber_) + " : ";
    if (IsOpen()) Close();
    if (portNumber_ == 0) {
        lastFailure_ = PortOpenFailure::Missing;
        return false;
    }

    std::optional<std::string> path = directory_.PathOf(portNumber_);
    int fd = path ? OpenExclusive(*path) : -1;
    const int openError = errno;
    bool noAccess = fd < 0 && path && (openError == EACCES || openError == EPERM);
    busyHolder_.reset();
    if (fd >= 0) {
        lastFailure_ = PortOpenFailure::None;
    } else if (!path || openError == ENOENT || openError == ENXIO || openError == ENODEV) {
        lastFailure_ = PortOpenFailure::Missing;
    } else if (noAccess) {
        lastFailure_ = PortOpenFailure::NoAccess;
    } else if (openError == EBUSY) {
        lastFailure_ = PortOpenFailure::Busy;
        busyHolder_ = HolderOf(*path);
    } else {
        lastFailure_ = PortOpenFailure::Other;
    }
    if (fd >= 0) {
        ::ioctl(fd, TIOCEXCL);
        int wakeFd = -1;
        if (ConfigureLine(fd, baudRate) && ::tcflush(fd, TCIOFLUSH) == 0 &&
            (wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) >= 0) {
            impl_->fd = fd;
            impl_->wakeFd = wakeFd;
            impl_->openedNumber = portNumber_;
            try {
                impl_->reader = std::thread([this] { ReaderLoop(); });
            } catch (const std::system_error&) {
                impl_->fd = -1;
                impl_->wakeFd = -1;
            }
        }
        if (impl_->fd < 0) {
            if (wakeFd >= 0) ::close(wakeFd);
            ::ioctl(fd, TIOCNXCL);
            ::close(fd);
        }
    }

    if (fd >= 0 && !IsOpen()) lastFailure_ = PortOpenFailure::Other;
    if (IsOpen()) ++openCount_;
    Log(text + (IsOpen() ? "OK" : "Error"));
    if (noAccess && impl_->accessHintGiven.insert(*path).second) {
        Log("Open COM " + std::to_string(portNumber_) + " : no access to " + *path +
            "; add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again");
    }
    return IsOpen();
}

bool SerialPort::Close() {
    if (!IsOpen()) return false;
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(impl_->wakeFd, &one, sizeof one);
    if (impl_->reader.joinable()) impl_->reader.join();
    ::ioctl(impl_->fd, TIOCNXCL);
    ::close(impl_->fd);
    ::close(impl_->wakeFd);
    impl_->fd = -1;
    impl_->wakeFd = -1;
    // The port that was open, even when the number has already been set to the next one.
    Log("Close COM " + std::to_string(impl_->openedNumber) + " : OK");
    return true;
}

void SerialPort::ReaderLoop() {
    pollfd fds[2] = {{impl_->wakeFd, POLLIN, 0}, {impl_->fd, POLLIN, 0}};
    // After a hang-up (device unplugged, simulator gone) only the stop signal is waited for;
    // polling a hung-up descriptor would return at once, forever.
    nfds_t watched = 2;
    for (;;) {
        int ready = ::poll(fds, watched, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (watched < 2) continue;
        short events = fds[1].revents;
        int available = 0;
        if ((events & POLLIN) && ::ioctl(impl_->fd, FIONREAD, &available) == 0 && available > 0) {
            OnReceive(static_cast<std::size_t>(available));
        } else if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            watched = 1;
        }
    }
}

std::size_t SerialPort::Write(const std::uint8_t* bytes, std::size_t count) {
    if (!IsOpen() || !bytes) return 0;
    std::lock_guard lock(impl_->io);
    // As the line would: 100 ms per byte plus 100 ms before giving up on a stuck driver.
    std::uint64_t deadline = TickCount() + 100 * count + 100;
    std::size_t written = 0;
    while (written < count) {
        ssize_t n = ::write(impl_->fd, bytes + written, count - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) break;
        std::uint64_t now = TickCount();
        if (now >= deadline) break;
        pollfd pfd{impl_->fd, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(deadline - now));
    }
    bytesWritten_.fetch_add(written, std::memory_order_relaxed);
    return written;
}

std::size_t SerialPort::Read(std::uint8_t* buffer, std::size_t count) {
    if (!IsOpen() || !buffer || count == 0) return 0;
    std::lock_guard lock(impl_->io);
    ssize_t n = ::read(impl_->fd, buffer, count);
    if (n <= 0) return 0;
    bytesRead_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_relaxed);
    return static_cast<std::size_t>(n);
}

void SerialPort::EnumeratePorts(PortListEntry* entries, int& count, bool checkBusy) const {
    std::vector<PortPath> ports = directory_.List();
    int written = 0;
    for (const PortPath& port : ports) {
        if (written >= count) break;
        std::int32_t state = checkBusy ? (CanOpen(port.path) ? 0 : 1) : 255;
        entries[written++] = {port.number, state};
    }
    count = written;
}

bool SerialPort::CanOpen(const std::string& path) const {
    int fd = OpenExclusive(path);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace kalvo
