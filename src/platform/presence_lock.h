#pragma once
// Tells a connection to a shared file (the history archive) whether other connections of this
// program are alive: each holds a lock file beside it shared for as long as it is open, and the
// OS drops the hold of a process that dies. A connection that can take the lock exclusively for
// a moment is alone; what it finds left over was left by a connection that is gone.
//
// POSIX: flock on the lock file, never fcntl locks (closing any descriptor of a file drops every
// fcntl lock the process holds on it). Windows: LockFileEx on its first byte. A hold belongs to
// the open file (each object is a holder of its own, also within one process) and is not passed
// to programs this one starts. One thread at a time per object.
#include <string>

namespace kalvo {

class PresenceLock {
public:
    enum class Company {
        Alone,    // no other holder at the moment the hold was taken
        Others,   // another holder is alive
        Unknown,  // the lock file cannot be made or locked: nothing is known, nothing held
    };

    PresenceLock() = default;
    // Opens (or makes, mode 0600) `lockPath` and holds it shared; first tries it exclusively to
    // learn the company. Waits only while another holder takes it exclusively for its own look.
    explicit PresenceLock(const std::string& lockPath);
    ~PresenceLock() { Release(); }
    PresenceLock(PresenceLock&& other) noexcept { *this = std::move(other); }
    PresenceLock& operator=(PresenceLock&& other) noexcept;
    PresenceLock(const PresenceLock&) = delete;
    PresenceLock& operator=(const PresenceLock&) = delete;

    Company CompanyFound() const { return company_; }
    bool Held() const;
    void Release();

private:
#ifdef _WIN32
    void* handle_ = nullptr;  // HANDLE; INVALID_HANDLE_VALUE is never kept
#else
    int fd_ = -1;
#endif
    Company company_ = Company::Unknown;
};

}  // namespace kalvo
