#include "stop_signals.h"

#include <windows.h>

#include "internal/stop_state.h"

namespace pictrim::platform {

namespace {

// Set once, before the handler is installed, and never changed: the
// system calls the handler on a thread of its own at any time.
std::function<bool(DWORD)> g_onEvent;

BOOL WINAPI OnConsoleEvent(DWORD event) { return g_onEvent && g_onEvent(event) ? TRUE : FALSE; }

}  // namespace

// Ctrl-C, Ctrl-Break and closing the console window (or logging off, or
// shutting down) stop the jobs as SIGINT and SIGTERM do on Linux.
StopSignals::StopSignals() : m_state(std::make_shared<State>()) {
    if (g_onEvent) return;  // one per process
    g_onEvent = [state = m_state](DWORD event) {
        if (!state->Take()) return true;  // the stop is already under way
        if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
            // Returning would end the process at once. The jobs stop between
            // rows and the main thread ends the process; Windows ends it
            // after a few seconds anyway, and a file not yet in place then
            // goes with its handle.
            ::Sleep(INFINITE);
        }
        return true;
    };
    ::SetConsoleCtrlHandler(nullptr, FALSE);  // Ctrl-C on, even when the parent turned it off for us
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace pictrim::platform
