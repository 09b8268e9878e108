#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace pictrim::platform {

// Turns Ctrl-C (SIGINT) and SIGTERM into an orderly stop: the signals are
// taken by one thread of their own, which runs onStop once, so that jobs
// stop between rows and take their temporary files with them instead of
// the process dying in the middle of a write.
class StopSignals {
public:
    // Blocks both signals in the calling thread and in every thread it
    // starts afterwards: construct it before any other thread exists.
    StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // onStop runs on the signal thread at the first signal; later ones are
    // taken and ignored, since the stop is already under way.
    void Watch(std::function<void()> onStop);
    bool Received() const { return *m_received; }

private:
    // Shared with the signal thread, which outlives this object.
    std::shared_ptr<std::atomic<bool>> m_received = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace pictrim::platform
