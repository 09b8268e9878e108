#include "terminal_question.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace pictrim::platform {

TerminalQuestion::TerminalQuestion(std::FILE* input) : m_input(::fileno(input)) {
    int wake[2] = {-1, -1};
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        m_wake[0] = wake[0];
        m_wake[1] = wake[1];
    }
}

TerminalQuestion::~TerminalQuestion() {
    for (const std::intptr_t fd : m_wake) {
        if (fd >= 0) ::close(fd);
    }
}

void TerminalQuestion::Cancel() {
    m_cancelled = true;
    // The pipe stays readable from now on, so every later question ends too.
    if (m_wake[1] >= 0) {
        const char byte = 0;
        while (::write(m_wake[1], &byte, 1) < 0 && errno == EINTR) {
        }
    }
}

std::optional<std::string> TerminalQuestion::ReadLine() {
    std::string line;
    for (;;) {
        pollfd fds[2] = {{static_cast<int>(m_input), POLLIN, 0}, {static_cast<int>(m_wake[0]), POLLIN, 0}};
        if (::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (fds[1].revents != 0) return std::nullopt;
        char c = 0;
        const ssize_t n = ::read(m_input, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        line.push_back(c);
    }
}

}  // namespace pictrim::platform
