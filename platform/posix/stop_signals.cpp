#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace pictrim::platform {

struct StopSignals::State {
    std::mutex mutex;
    std::function<void()> handler;
    std::atomic<bool> received{false};
};

namespace {

constexpr int kInterruptedStatus = 128 + SIGINT;

// SIGHUP: the terminal closed; what is finished is kept all the same. A
// signal the parent set to be ignored (nohup, a script's `&` for SIGINT)
// stays ignored: taken over, it would stop what was meant to go on.
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        if (::sigaction(signal, nullptr, &action) != 0 || action.sa_handler != SIG_IGN) sigaddset(&set, signal);
    }
    return set;
}

}  // namespace

StopSignals::StopSignals() : m_state(std::make_shared<State>()) {
    const sigset_t set = StopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        // Detached: it waits for signals until the process ends.
        std::thread([state = m_state, set] {
            for (;;) {
                int signal = 0;
                if (::sigwait(&set, &signal) != 0 || state->received.exchange(true)) continue;
                // Under the lock: whoever replaces the handler waits for it to
                // finish with the objects it stops.
                std::lock_guard lock(state->mutex);
                if (!state->handler) std::_Exit(kInterruptedStatus);
                state->handler();
            }
        }).detach();
    } catch (const std::system_error&) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // no thread to take them: the default action
    } catch (const std::bad_alloc&) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

void StopSignals::OnStop(std::function<void()> handler) {
    std::lock_guard lock(m_state->mutex);
    m_state->handler = std::move(handler);
}

bool StopSignals::Received() const { return m_state->received; }

}  // namespace pictrim::platform
