#include "facade/key_environment.h"

#include <chrono>
#include <thread>

#include "facade/member_guard.h"

namespace tessal::facade {

void resetKeyEnvironment(SignState& state) {
    if (!state.keySelection) return;
    traceObject(state, u"Išvaloma pasirašančio asmens privataus rakto aplinka");
    CardWatch& watch = *state.cardWatch;
    if (state.cardMonitorRunning) {
        watch.requestStop();
        // The woken monitor acknowledges within moments; five seconds in all.
        for (int poll = 0; poll < 250 && watch.state.load() != kNotWatching; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        state.cardMonitorRunning = false;
    } else {
        // No monitor watches an HSM key: nothing to wait for.
        watch.state.exchange(kNotWatching);
    }
    // A monitor that has not acknowledged yet keeps its own watch and stops
    // at its next look at it; the next selection starts with a fresh one.
    state.cardWatch = std::make_shared<CardWatch>();
    state.keySelection.reset();
}

}  // namespace tessal::facade
