#include "stop_signals.h"

#include <pthread.h>
#include <signal.h>

#include <new>
#include <system_error>
#include <thread>

#include "internal/stop_state.h"

namespace pictrim::platform {

namespace {

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
                if (::sigwait(&set, &signal) == 0) state->Take();
            }
        }).detach();
    } catch (const std::system_error&) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);  // no thread to take them: the default action
    } catch (const std::bad_alloc&) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
}

}  // namespace pictrim::platform
