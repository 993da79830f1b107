#include "gui/single_instance.h"

#ifndef _WIN32
#include <QDir>
#include <QStandardPaths>
#endif

namespace kalvo {

#ifdef _WIN32
bool SingleInstance::TryAcquire() { return mutex_.TryAcquire(); }
void SingleInstance::Release() { mutex_.Release(); }
#else

bool SingleInstance::TryAcquire() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    lock_ = std::make_unique<QLockFile>(folder + "/TRV8_Kalvo_Explorer_Mutex.lock");
    // Never stale by age (the program runs for hours); a lock whose process is gone is taken over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) return true;
    lock_.reset();
    return false;
}

void SingleInstance::Release() {
    if (lock_) lock_->unlock();
    lock_.reset();
}
#endif

}  // namespace kalvo
