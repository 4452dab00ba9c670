#include "platform/trap_released_lock.h"

namespace tessal::platform::held_locks {

namespace {

constexpr std::size_t kCapacity = 64;

struct Held {
    void* lock;
    void (*release)(void*);
};

// Plain arrays: noting a lock must neither allocate nor throw.
thread_local Held held[kCapacity];
thread_local std::size_t count = 0;

}  // namespace

void noteTaken(void* lock, void (*release)(void*)) noexcept {
    if (count < kCapacity) held[count++] = Held{lock, release};
}

void noteReleased(const void* lock) noexcept {
    // Usually the innermost one; a recursive lock appears once per level.
    for (std::size_t i = count; i-- > 0;) {
        if (held[i].lock != lock) continue;
        for (std::size_t k = i + 1; k < count; ++k) held[k - 1] = held[k];
        --count;
        return;
    }
}

std::size_t depth() noexcept { return count; }

void releaseAbove(std::size_t mark) noexcept {
    while (count > mark) {
        const Held top = held[--count];
        top.release(top.lock);
    }
}

}  // namespace tessal::platform::held_locks
