#pragma once
// Process-wide locks that a trapped fault gives back. A fault trap leaves the
// faulting code without running its destructors, so a lock_guard inside it
// would keep its lock for good and every later member of every object would
// block on it. These locks note on the taking thread which of them it holds;
// the trap releases those taken inside it before it answers.
#include <cstddef>
#include <mutex>

namespace tessal::platform {

namespace held_locks {

// The locks the calling thread holds, innermost last (at most 64 are noted;
// deeper nesting than that is not tracked).
void noteTaken(void* lock, void (*release)(void*)) noexcept;
void noteReleased(const void* lock) noexcept;
std::size_t depth() noexcept;
// Releases, innermost first, every noted lock above `depth`.
void releaseAbove(std::size_t depth) noexcept;

}  // namespace held_locks

template <typename Mutex>
class TrapReleasedLock {
public:
    constexpr TrapReleasedLock() = default;
    TrapReleasedLock(const TrapReleasedLock&) = delete;
    TrapReleasedLock& operator=(const TrapReleasedLock&) = delete;

    void lock() {
        mutex_.lock();
        held_locks::noteTaken(this, &release);
    }
    bool try_lock() {
        if (!mutex_.try_lock()) return false;
        held_locks::noteTaken(this, &release);
        return true;
    }
    void unlock() {
        held_locks::noteReleased(this);
        mutex_.unlock();
    }

private:
    static void release(void* self) { static_cast<TrapReleasedLock*>(self)->mutex_.unlock(); }
    Mutex mutex_;
};

using TrapReleasedMutex = TrapReleasedLock<std::mutex>;
using TrapReleasedRecursiveMutex = TrapReleasedLock<std::recursive_mutex>;

}  // namespace tessal::platform
