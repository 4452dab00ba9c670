#include "pki/store_lock.h"

#include <atomic>

namespace tessal::pki {

namespace {
// Read without the lock by every chain and revocation check.
std::atomic<bool> checksOff{false};
}  // namespace

platform::TrapReleasedMutex& storeLock() {
    static platform::TrapReleasedMutex lock;
    return lock;
}

platform::TrapReleasedRecursiveMutex& certificateLock() {
    static platform::TrapReleasedRecursiveMutex lock;
    return lock;
}

bool certificateChecksOff() { return checksOff.load(); }

void disableCertificateChecks() {
    const std::lock_guard guard(storeLock());
    checksOff.store(true);
}

void clearCertificateChecksOffForTesting() {
    const std::lock_guard guard(storeLock());
    checksOff.store(false);
}

}  // namespace tessal::pki
