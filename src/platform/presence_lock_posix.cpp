#include "platform/presence_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace kalvo {

PresenceLock::PresenceLock(const std::string& lockPath) {
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    // A lock file left in a folder that is now read-only still locks.
    if (fd < 0) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return;
    int taken = 0;
    while ((taken = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    Company company = Company::Alone;
    if (taken != 0) {
        if (errno != EWOULDBLOCK) {
            ::close(fd);
            return;
        }
        company = Company::Others;
    }
    // From exclusive to shared is not atomic with flock: another opener may find the lock free in
    // between and take itself for alone, which costs it a needless check and nothing else.
    while ((taken = ::flock(fd, LOCK_SH)) != 0 && errno == EINTR) {
    }
    if (taken != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
    company_ = company;
}

PresenceLock& PresenceLock::operator=(PresenceLock&& other) noexcept {
    if (this != &other) {
        Release();
        fd_ = other.fd_;
        company_ = other.company_;
        other.fd_ = -1;
        other.company_ = Company::Unknown;
    }
    return *this;
}

bool PresenceLock::Held() const { return fd_ >= 0; }

void PresenceLock::Release() {
    // Closing the only descriptor of this open file ends the hold.
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

}  // namespace kalvo
