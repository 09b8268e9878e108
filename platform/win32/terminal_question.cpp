#include "terminal_question.h"

#include <io.h>
#include <windows.h>

#include "wide_path.h"

namespace pictrim::platform {

struct TerminalQuestion::Native {
    HANDLE input = INVALID_HANDLE_VALUE;
    HANDLE wake = nullptr;  // an event; none when it could not be made
};

namespace {

// Where what is typed is shown: the console the question was written to.
void Echo(const wchar_t* text, DWORD length) {
    for (const DWORD which : {STD_ERROR_HANDLE, STD_OUTPUT_HANDLE}) {
        const HANDLE out = ::GetStdHandle(which);
        DWORD mode = 0;
        if (::GetConsoleMode(out, &mode)) {
            DWORD written = 0;
            ::WriteConsoleW(out, text, length, &written, nullptr);
            return;
        }
    }
}

// A line from a file or pipe, byte by byte.
std::optional<std::string> ReadLineFrom(HANDLE input) {
    std::string line;
    for (;;) {
        char c = 0;
        DWORD n = 0;
        if (!::ReadFile(input, &c, 1, &n, nullptr) || n == 0) return line.empty() ? std::nullopt : std::optional(line);
        if (c == '\n') return line;
        if (c != '\r') line.push_back(c);
    }
}

}  // namespace

TerminalQuestion::TerminalQuestion(std::FILE* input) : m_native(std::make_unique<Native>()) {
    m_native->input = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(input)));
    m_native->wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TerminalQuestion::~TerminalQuestion() {
    if (m_native->wake != nullptr) ::CloseHandle(m_native->wake);
}

void TerminalQuestion::Cancel() {
    m_cancelled = true;
    // The event stays set from now on, so every later question ends too.
    if (m_native->wake != nullptr) ::SetEvent(m_native->wake);
}

// On a console the line is read key by key, as UTF-16, while also waiting
// for Cancel: a line-mode read could not be cut short.
std::optional<std::string> TerminalQuestion::ReadLine() {
    if (m_cancelled) return std::nullopt;
    const HANDLE input = m_native->input, wake = m_native->wake;
    DWORD mode = 0;
    if (!::GetConsoleMode(input, &mode)) return ReadLineFrom(input);
    std::wstring line;
    for (;;) {
        const HANDLE waits[2] = {input, wake};
        const DWORD woken = ::WaitForMultipleObjects(wake != nullptr ? 2 : 1, waits, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 || m_cancelled) return std::nullopt;
        INPUT_RECORD records[64];
        DWORD count = 0;
        if (!::ReadConsoleInputW(input, records, 64, &count)) return std::nullopt;
        for (DWORD i = 0; i < count; ++i) {
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType != KEY_EVENT || !key.bKeyDown) continue;
            const wchar_t c = key.uChar.UnicodeChar;
            if (c == L'\r' || c == L'\n') {
                Echo(L"\r\n", 2);
                return Utf8(line);
            }
            if (c == 26 && line.empty()) return std::nullopt;  // Ctrl-Z: the end of input
            if (c == L'\b') {
                if (!line.empty()) {
                    line.pop_back();
                    Echo(L"\b \b", 3);
                }
            } else if (c >= 32) {
                line.push_back(c);
                Echo(&c, 1);
            }
        }
    }
}

}  // namespace pictrim::platform
