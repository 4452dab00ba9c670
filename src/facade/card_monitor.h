#pragma once
// The card monitor: one thread per key selection on a card. It watches the
// signer's reader and, when the card leaves it, marks the selected key as gone
// (so the next signing selects it afresh) and calls the object's card-removal
// callback once.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/smart_card.h"
#include "tessal/variant.h"

namespace tessal::facade {

// Values of CardWatch::state.
inline constexpr std::uint32_t kNotWatching = 0;  // never started, stopped, or the card is gone
inline constexpr std::uint32_t kWatching = 1;
inline constexpr std::uint32_t kStopRequested = 2;

// The object's card-removal callback. Its monitors hold the slot too, so a
// monitor that outlives the object (destruction waits only a bounded time)
// finds it alive, and empty.
struct CardCallbackSlot {
    std::shared_ptr<Dispatch> callback;  // guarded by callbackLock()
};

// What one monitor shares with its object: the state word (changed only by
// exchange and compare-exchange) and what the thread needs to know. Each key
// selection gets a watch of its own, so a monitor that has not yet seen its
// stop request never acts on the word of the next selection.
struct CardWatch {
    std::atomic<std::uint32_t> state{kNotWatching};
    std::string readerName;
    std::string objectLogPath;

    // Asks a watching monitor to stop and wakes it from its reader wait, so
    // the stop is acknowledged at once rather than when the wait runs out.
    void requestStop();

    // The monitor's resource-manager context while it has one.
    std::mutex contextLock;
    platform::CardContext* context = nullptr;  // guarded by contextLock
};

// Starts a detached monitor thread for `watch`; it sets the state word to
// kWatching once it watches. False when no thread could be started.
bool startCardMonitor(std::shared_ptr<CardWatch> watch, std::shared_ptr<CardCallbackSlot> callback);

}  // namespace tessal::facade
