#pragma once
// The single-instance rule on Windows: the named mutex "TRV8_Kalvo_Explorer_Mutex", created with
// initial ownership and then waited on with no time-out; any answer but immediate success means
// another instance runs. Released and closed when the object goes. Windows only (Linux keeps a
// lock file in the window's code). User-interface thread only.
#include <string>

namespace kalvo {

inline constexpr const char* kInstanceMutexName = "TRV8_Kalvo_Explorer_Mutex";

class InstanceMutex {
public:
    explicit InstanceMutex(std::string name = kInstanceMutexName) : name_(std::move(name)) {}
    ~InstanceMutex() { Release(); }
    InstanceMutex(const InstanceMutex&) = delete;
    InstanceMutex& operator=(const InstanceMutex&) = delete;

    // True when this process now owns the mutex.
    bool TryAcquire();
    void Release();
    bool Held() const { return handle_ != nullptr && owned_; }

private:
    std::string name_;
    void* handle_ = nullptr;  // HANDLE
    bool owned_ = false;
    int ownCount_ = 0;  // ownerships to give back: by creation and by the wait
};

}  // namespace kalvo
