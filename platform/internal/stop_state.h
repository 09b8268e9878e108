#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "stop_signals.h"

namespace pictrim::platform {

// What the thread that takes the signals (or the console's events) shares
// with StopSignals.
struct StopSignals::State {
    std::mutex mutex;
    std::function<void()> handler;
    std::atomic<bool> received{false};

    // Called on the signal's thread at each stop signal. The first runs
    // the handler, or, before there is one, ends the process with the
    // status a shell gives an interrupted program (nothing is being written
    // yet). False for a later one: the stop is already under way.
    bool Take();
};

}  // namespace pictrim::platform
