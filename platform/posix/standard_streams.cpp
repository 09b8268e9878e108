#include "standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>

namespace pictrim::platform {

void KeepStandardStreamsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        // open() takes the lowest free number: this one. A closed stdout
        // fails its writes, so that messages nobody can get are not a success.
        int null = fd == STDOUT_FILENO ? ::open("/dev/full", O_WRONLY) : -1;
        if (null < 0) null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
    ::signal(SIGPIPE, SIG_IGN);
    // A file past `ulimit -f` then fails its write (EFBIG), which is told
    // for that file, instead of the whole batch dying without a word.
    ::signal(SIGXFSZ, SIG_IGN);
}

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) == 1; }

std::size_t TerminalColumns(std::FILE* stream) {
    winsize size{};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void Print(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
}

}  // namespace pictrim::platform
