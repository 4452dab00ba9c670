#include "facade/card_monitor.h"

#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "diagnostics/log_file.h"
#include "facade/callback_lock.h"
#include "platform/fault_trap.h"
#include "platform/smart_card.h"

namespace tessal::facade {

namespace {

// One wait on the reader; a stop request is seen after at most this long.
constexpr std::chrono::milliseconds kReaderWait{2000};

// Calls the registered callback, if any, under the callback lock so that a
// registration or the object's destruction cannot drop it meanwhile.
void notifyRemoval(const CardCallbackSlot& slot) {
    std::lock_guard lock(callbackLock());
    if (!slot.callback) return;
    std::vector<Variant> args;
    Variant result;
    slot.callback->invokeDefault(args, result);
}

// Lends the monitor's context to the watch for as long as the wait may run,
// so a stop request can cancel the wait.
class LentContext {
public:
    LentContext(CardWatch& watch, platform::CardContext& context) : watch_(watch) {
        std::lock_guard lock(watch_.contextLock);
        watch_.context = &context;
    }
    ~LentContext() {
        std::lock_guard lock(watch_.contextLock);
        watch_.context = nullptr;
    }
    LentContext(const LentContext&) = delete;
    LentContext& operator=(const LentContext&) = delete;

private:
    CardWatch& watch_;
};

void watchReader(CardWatch& watch, const CardCallbackSlot& slot) {
    const std::unique_ptr<platform::CardContext> context = platform::establishCardContext();
    if (!context) return;
    const LentContext lent(watch, *context);
    watch.state.exchange(kWatching);
    if (watch.readerName.empty()) {
        watch.state.exchange(kNotWatching);
        return;
    }
    platform::ReaderWatch reader{watch.readerName};
    for (;;) {
        std::uint32_t stop = kStopRequested;
        if (watch.state.compare_exchange_strong(stop, kNotWatching)) return;
        if (watch.state.load() == kNotWatching) return;
        if (!context->valid()) {
            watch.state.exchange(kNotWatching);
            return;
        }
        if (context->waitForReaderChange(reader, kReaderWait) != platform::ReaderChange::Gone) continue;

        // The card is gone. A stop requested meanwhile is acknowledged
        // instead: nobody is told about a monitor that was asked to stop.
        std::uint32_t watching = kWatching;
        if (!watch.state.compare_exchange_strong(watching, kNotWatching)) {
            watch.state.exchange(kNotWatching);
            return;
        }
        diag::traceObject(watch.objectLogPath, u"Ištraukta kortelė iš skaitytuvo \"%s\"", {watch.readerName});
        notifyRemoval(slot);
        return;
    }
}

// The thread holds its watch and the callback slot, so it never touches the
// memory of an object destroyed before it ends.
void runMonitor(const std::shared_ptr<CardWatch>& watch, const std::shared_ptr<CardCallbackSlot>& slot) {
    platform::runTrappingFaults([&] {
        try {
            watchReader(*watch, *slot);
        } catch (...) {
            // Nothing may leave the thread; a failed monitor watches no more.
        }
    });
    // Whatever ended the thread (a fault included), the key is no longer watched.
    watch->state.exchange(kNotWatching);
}

}  // namespace

void CardWatch::requestStop() {
    std::uint32_t watching = kWatching;
    if (!state.compare_exchange_strong(watching, kStopRequested)) return;
    // A cancelled wait looks like a removal to the monitor; it sees the stop
    // request first and acknowledges it without calling anybody.
    std::lock_guard lock(contextLock);
    if (context) context->cancelWaits();
}

bool startCardMonitor(std::shared_ptr<CardWatch> watch, std::shared_ptr<CardCallbackSlot> callback) {
    if (!watch || !callback) return false;
    try {
        std::thread(runMonitor, std::move(watch), std::move(callback)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace tessal::facade
