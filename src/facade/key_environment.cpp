#include "facade/key_environment.h"

#include <chrono>
#include <thread>

#include "facade/member_guard.h"

namespace tessal::facade {

void resetKeyEnvironment(SignState& state) {
    if (!state.keySelection) return;
    traceObject(state, u"Išvaloma pasirašančio asmens privataus rakto aplinka");
    if (state.cardMonitorRunning) {
        std::uint32_t running = 1;
        state.cardMonitorState.compare_exchange_strong(running, 2);
        for (int poll = 0; poll < 25 && state.cardMonitorState.load() != 0; ++poll) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        state.cardMonitorRunning = false;
    } else {
        // No monitor watches an HSM key: nothing to wait for.
        state.cardMonitorState.store(0);
    }
    state.keySelection.reset();
}

}  // namespace tessal::facade
