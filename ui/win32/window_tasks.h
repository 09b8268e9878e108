#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

namespace pictrim::ui {

// Work handed from any thread to the thread of a window, which runs it when
// the window procedure gets `message`. A task that runs a message loop of
// its own (a modal box) does not hold back the ones behind it: the message
// is posted again for them before it runs.
class WindowTasks {
public:
    explicit WindowTasks(UINT message) : m_message(message) {}
    WindowTasks(const WindowTasks&) = delete;
    WindowTasks& operator=(const WindowTasks&) = delete;

    // The window the tasks go to; nullptr once it is gone.
    void SetWindow(HWND window);
    // From any thread. False, the task dropped, when there is no window to
    // run it or the message could not be posted.
    bool Post(std::function<void()> task);
    // On the window's thread, when the message arrives.
    void RunPending();
    // Drops the tasks not yet run.
    void Clear();

private:
    const UINT m_message;
    std::mutex m_mutex;
    HWND m_window = nullptr;
    std::deque<std::function<void()>> m_tasks;
};

}  // namespace pictrim::ui
