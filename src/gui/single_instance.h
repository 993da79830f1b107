#pragma once
// One running program per user: a lock file in the user's runtime folder (released by the
// system if the program dies); on Windows the named mutex "TRV8_Kalvo_Explorer_Mutex".
#include <memory>

#ifdef _WIN32
#include "platform/instance_mutex.h"
#else
#include <QLockFile>
#endif

namespace kalvo {

class SingleInstance {
public:
    // True when no other instance holds the lock.
    bool TryAcquire();
    void Release();

private:
#ifdef _WIN32
    InstanceMutex mutex_;
#else
    std::unique_ptr<QLockFile> lock_;
#endif
};

}  // namespace kalvo
