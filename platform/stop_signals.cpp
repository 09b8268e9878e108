#include "stop_signals.h"

#include <cstdlib>

#include "internal/stop_state.h"

namespace pictrim::platform {

namespace {
constexpr int kInterruptedStatus = 130;  // 128 + SIGINT
}

bool StopSignals::State::Take() {
    if (received.exchange(true)) return false;
    // Under the lock: whoever replaces the handler waits for it to finish
    // with the objects it stops.
    std::lock_guard lock(mutex);
    if (!handler) std::_Exit(kInterruptedStatus);
    handler();
    return true;
}

void StopSignals::OnStop(std::function<void()> handler) {
    std::lock_guard lock(m_state->mutex);
    m_state->handler = std::move(handler);
}

bool StopSignals::Received() const { return m_state->received; }

}  // namespace pictrim::platform
