#include "terminal_question.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace pictrim::platform {

struct TerminalQuestion::Native {
    int input = -1;
    int wake[2] = {-1, -1};  // a pipe; -1 when none could be made
};

TerminalQuestion::TerminalQuestion(std::FILE* input) : m_native(std::make_unique<Native>()) {
    m_native->input = ::fileno(input);
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        m_native->wake[0] = wake[0];
        m_native->wake[1] = wake[1];
    }
}

TerminalQuestion::~TerminalQuestion() {
    for (const int fd : m_native->wake) {
        if (fd >= 0) ::close(fd);
    }
}

void TerminalQuestion::Cancel() {
    m_cancelled = true;
    // The pipe stays readable from now on, so every later question ends too.
    if (const int wake = m_native->wake[1]; wake >= 0) {
        const char byte = 0;
        while (::write(wake, &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

std::optional<std::string> TerminalQuestion::ReadLine() {
    const int input = m_native->input, wake = m_native->wake[0];
    std::string line;
    for (;;) {
        pollfd fds[2] = {{input, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, wake >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents != 0) return std::nullopt;
        char c = 0;
        const ssize_t n = ::read(input, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        line.push_back(c);
    }
}

}  // namespace pictrim::platform
