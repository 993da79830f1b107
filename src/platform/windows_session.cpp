// The process services of the Windows build: the single-instance mutex and the options key.
#include <windows.h>

#include "platform/instance_mutex.h"
#include "platform/options_key.h"
#include "platform/win32_text.h"

namespace kalvo {

bool InstanceMutex::TryAcquire() {
    if (Held()) return true;
    Release();
    HANDLE handle = ::CreateMutexW(nullptr, TRUE, Widen(name_).c_str());
    if (!handle) return false;
    handle_ = handle;
    // Ownership asked for at creation is given only when the mutex is new; the wait then decides
    // (an abandoned mutex counts as another instance, as any answer but immediate success does).
    ownCount_ = ::GetLastError() == ERROR_ALREADY_EXISTS ? 0 : 1;
    if (::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) {
        ++ownCount_;
        owned_ = true;
    }
    return owned_;
}

void InstanceMutex::Release() {
    if (!handle_) return;
    HANDLE handle = static_cast<HANDLE>(handle_);
    for (; ownCount_ > 0; --ownCount_) ::ReleaseMutex(handle);
    ::CloseHandle(handle);
    handle_ = nullptr;
    owned_ = false;
}

std::int32_t ReadOption(const char* name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Widen(kOptionsKeyPath).c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0, size = sizeof value, type = 0;
    LONG status = ::RegQueryValueExW(key, Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value) return 0;
    return static_cast<std::int32_t>(value);
}

bool WriteOption(const char* name, std::int32_t value) {
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, Widen(kOptionsKeyPath).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    DWORD data = static_cast<DWORD>(value);
    LONG status =
        ::RegSetValueExW(key, Widen(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace kalvo
