#include "platform/presence_lock.h"

#include <windows.h>

#include "platform/win32_text.h"

namespace kalvo {

namespace {

bool LockFirstByte(HANDLE handle, DWORD flags) {
    OVERLAPPED at{};
    return ::LockFileEx(handle, flags, 0, 1, 0, &at) != 0;
}

}  // namespace

PresenceLock::PresenceLock(const std::string& lockPath) {
    const std::wstring wide = Widen(lockPath);
    // Shared with every other holder; never inherited by programs started from here.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    // A lock file left in a folder that is now read-only still locks.
    if (handle == INVALID_HANDLE_VALUE)
        handle = ::CreateFileW(wide.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    Company company = Company::Others;
    if (LockFirstByte(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
        company = Company::Alone;
        OVERLAPPED at{};
        ::UnlockFileEx(handle, 0, 1, 0, &at);
    } else if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING) {
        ::CloseHandle(handle);
        return;
    }
    // Another opener may find the byte free between the two locks and take itself for alone,
    // which costs it a needless check and nothing else.
    if (!LockFirstByte(handle, 0)) {
        ::CloseHandle(handle);
        return;
    }
    handle_ = handle;
    company_ = company;
}

PresenceLock& PresenceLock::operator=(PresenceLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = other.handle_;
        company_ = other.company_;
        other.handle_ = nullptr;
        other.company_ = Company::Unknown;
    }
    return *this;
}

bool PresenceLock::Held() const { return handle_ != nullptr; }

void PresenceLock::Release() {
    // Closing the handle ends its locks.
    if (handle_) ::CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

}  // namespace kalvo
