#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace pictrim::platform {

namespace {
sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
}  // namespace

StopSignals::StopSignals() {
    const sigset_t set = StopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void StopSignals::Watch(std::function<void()> onStop) {
    // Detached: it waits for a signal until the process ends.
    std::thread([received = m_received, onStop = std::move(onStop)] {
        const sigset_t set = StopSet();
        for (;;) {
            int signal = 0;
            if (::sigwait(&set, &signal) != 0) continue;
            if (!received->exchange(true)) onStop();
        }
    }).detach();
}

}  // namespace pictrim::platform
