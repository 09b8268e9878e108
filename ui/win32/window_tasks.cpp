#include "window_tasks.h"

#include <utility>

namespace pictrim::ui {

void WindowTasks::SetWindow(HWND window) {
    std::lock_guard lock(m_mutex);
    m_window = window;
}

bool WindowTasks::Post(std::function<void()> task) {
    std::lock_guard lock(m_mutex);
    if (m_window == nullptr) return false;
    m_tasks.push_back(std::move(task));
    // One message stands for every task waiting: RunPending takes them all.
    if (m_tasks.size() > 1 || PostMessageW(m_window, m_message, 0, 0)) return true;
    m_tasks.pop_back();
    return false;
}

void WindowTasks::RunPending() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(m_mutex);
            if (m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            if (!m_tasks.empty() && m_window != nullptr) PostMessageW(m_window, m_message, 0, 0);
        }
        task();
    }
}

void WindowTasks::Clear() {
    std::lock_guard lock(m_mutex);
    m_tasks.clear();
}

}  // namespace pictrim::ui
