#include "devsim/pty_transport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "platform/port_directory.h"

namespace kalvo::devsim {

namespace {

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// The settings a program finds before it configures the port itself: raw (nothing echoed back
// to us, no line editing) at the program's own rate.
bool MakeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B230400) != 0 || ::cfsetospeed(&tio, B230400) != 0) return false;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyPort::PtyPort(int master, int slave, std::string slavePath)
    : master_(master), slave_(slave), slavePath_(std::move(slavePath)) {}

PtyPort::PtyPort(PtyPort&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      slavePath_(std::move(other.slavePath_)) {}

PtyPort& PtyPort::operator=(PtyPort&& other) noexcept {
    if (this != &other) {
        Close();
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        slavePath_ = std::move(other.slavePath_);
    }
    return *this;
}

PtyPort::~PtyPort() { Close(); }

std::optional<PtyPort> PtyPort::Open(std::string& error) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = ErrnoText("posix_openpt");
        return std::nullopt;
    }
    char name[128] = {};
    int slave = -1;
    if (::grantpt(master) != 0) {
        error = ErrnoText("grantpt");
    } else if (::unlockpt(master) != 0) {
        error = ErrnoText("unlockpt");
    } else if (::ptsname_r(master, name, sizeof name) != 0) {
        error = ErrnoText("ptsname");
    } else if ((slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0) {
        error = ErrnoText(std::string("open ") + name);
    } else if (!MakeRaw(slave)) {
        error = ErrnoText(std::string("line settings of ") + name);
    } else if (int flags = ::fcntl(master, F_GETFL); flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = ErrnoText("fcntl");
    } else {
        return PtyPort(master, slave, name);
    }
    CloseFd(slave);
    CloseFd(master);
    return std::nullopt;
}

int PtyPort::UnreadBySlave() const {
    int count = 0;
    if (slave_ < 0 || ::ioctl(slave_, FIONREAD, &count) != 0) return 0;
    return count;
}

void PtyPort::Close() {
    CloseFd(slave_);
    CloseFd(master_);
}

PortPublication::PortPublication(std::string linkPath, std::string lockPath, std::string target, int lockFd)
    : linkPath_(std::move(linkPath)), lockPath_(std::move(lockPath)), target_(std::move(target)), lockFd_(lockFd) {}

PortPublication::PortPublication(PortPublication&& other) noexcept
    : linkPath_(std::move(other.linkPath_)),
      lockPath_(std::move(other.lockPath_)),
      target_(std::move(other.target_)),
      lockFd_(std::exchange(other.lockFd_, -1)) {}

PortPublication& PortPublication::operator=(PortPublication&& other) noexcept {
    if (this != &other) {
        Withdraw();
        linkPath_ = std::move(other.linkPath_);
        lockPath_ = std::move(other.lockPath_);
        target_ = std::move(other.target_);
        lockFd_ = std::exchange(other.lockFd_, -1);
    }
    return *this;
}

PortPublication::~PortPublication() { Withdraw(); }

std::optional<PortPublication> PortPublication::Publish(const std::string& folder, int number,
                                                        const std::string& target, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return std::nullopt;
    }
    const std::string name = PortDirectory::LinkName(number);
    const std::string linkPath = folder + "/" + name;
    const std::string lockPath = folder + "/." + name + ".lock";

    int lockFd = -1;
    for (;;) {
        lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd < 0) {
            error = ErrnoText("cannot create " + lockPath);
            return std::nullopt;
        }
        if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            error = errno == EWOULDBLOCK ? "COM " + std::to_string(number) + " is served by another simulator"
                                         : ErrnoText("cannot lock " + lockPath);
            ::close(lockFd);
            return std::nullopt;
        }
        // A simulator that was just leaving may have removed the file we locked; lock the new one.
        struct stat held {}, named {};
        if (::fstat(lockFd, &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            break;
        }
        ::close(lockFd);
    }

    // With the lock ours, a link already there was left behind by a simulator that died.
    struct stat existing {};
    if (::lstat(linkPath.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode)) {
        error = linkPath + " exists and is not a link";
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return std::nullopt;
    }
    // Built aside and renamed over, so the folder never shows the number missing or half made.
    const std::string temporary = folder + "/." + name + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 || ::rename(temporary.c_str(), linkPath.c_str()) != 0) {
        error = ErrnoText("cannot create " + linkPath);
        ::unlink(temporary.c_str());
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return std::nullopt;
    }
    return PortPublication(linkPath, lockPath, target, lockFd);
}

void PortPublication::Withdraw() {
    if (lockFd_ < 0) return;
    char buffer[4096];
    ssize_t length = ::readlink(linkPath_.c_str(), buffer, sizeof buffer);
    if (length >= 0 && std::string(buffer, static_cast<std::size_t>(length)) == target_) {
        ::unlink(linkPath_.c_str());
    }
    ::unlink(lockPath_.c_str());
    CloseFd(lockFd_);
}

}  // namespace kalvo::devsim
