#include "standard_streams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdarg>
#include <string>

#include "wide_path.h"

namespace pictrim::platform {

namespace {

HANDLE HandleOf(std::FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

bool IsConsole(HANDLE handle, DWORD& mode) { return ::GetConsoleMode(handle, &mode) != 0; }

}  // namespace

// Windows gives a child no descriptors to take by mistake: a missing
// standard stream is simply unusable. What is left is the streams' mode.
void KeepStandardStreamsOpen() {
    // Binary: "\n" stays "\n" and a NUL-separated list arrives whole.
    for (int fd = 0; fd <= 2; ++fd) ::_setmode(fd, _O_BINARY);
    // The progress line rewrites itself with escape sequences.
    for (std::FILE* stream : {stdout, stderr}) {
        DWORD mode = 0;
        if (IsConsole(HandleOf(stream), mode)) {
            ::SetConsoleMode(HandleOf(stream), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        }
    }
}

bool IsTerminal(std::FILE* stream) {
    DWORD mode = 0;
    return IsConsole(HandleOf(stream), mode);
}

std::size_t TerminalColumns(std::FILE* stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(HandleOf(stream), &info)) return 0;
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

void Print(std::FILE* stream, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    DWORD mode = 0;
    const HANDLE handle = HandleOf(stream);
    if (!IsConsole(handle, mode)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // A console shows UTF-16 right in any code page; bytes that are not
    // UTF-8 come out as replacement characters.
    std::fflush(stream);
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(n > 0 ? static_cast<std::size_t>(n) : 0, L'\0');
    if (n > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

}  // namespace pictrim::platform
