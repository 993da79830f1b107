#pragma once
// One running program per user: a lock file in the user's runtime folder (released by the
// system if the program dies).
#include <QLockFile>
#include <memory>

namespace kalvo {

class SingleInstance {
public:
    // True when no other instance holds the lock.
    bool TryAcquire();
    void Release();

private:
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace kalvo
