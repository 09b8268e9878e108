#pragma once

#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

namespace pictrim::platform {

// Reads one answer line from a terminal, in a way another thread can cut
// short: a Ctrl-C must not leave a job waiting for a line that never comes.
class TerminalQuestion {
public:
    explicit TerminalQuestion(std::FILE* input);
    ~TerminalQuestion();
    TerminalQuestion(const TerminalQuestion&) = delete;
    TerminalQuestion& operator=(const TerminalQuestion&) = delete;

    // The line without its end, in UTF-8; none at the end of input or once
    // cancelled.
    std::optional<std::string> ReadLine();
    // Ends a waiting ReadLine and every later one. Safe from any thread.
    void Cancel();
    bool Cancelled() const { return m_cancelled; }

private:
    // The system's handles: the input, and what wakes a waiting ReadLine.
    struct Native;
    std::unique_ptr<Native> m_native;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace pictrim::platform
