#pragma once

#include <functional>
#include <memory>

namespace pictrim::platform {

// Turns Ctrl-C (SIGINT), SIGTERM and SIGHUP into an orderly stop: the signals are
// taken by one thread of their own, which runs the stop handler once, so
// that jobs stop between rows and take their temporary files with them
// instead of the process dying in the middle of a write.
class StopSignals {
public:
    // Blocks the signals in the calling thread and in every thread it
    // starts afterwards: construct it before any other thread exists. Until
    // a handler is given, a signal ends the process at once with status 130:
    // nothing is being written yet.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Runs on the signal thread at the first signal; later signals are
    // taken and ignored, since the stop is already under way. Replacing the
    // handler (by one that stops nothing, before what it stops is gone)
    // waits for a running one to return.
    void OnStop(std::function<void()> handler);
    bool Received() const;

private:
    struct State;
    std::shared_ptr<State> m_state;  // shared with the signal thread, which outlives this object
};

}  // namespace pictrim::platform
