#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "ui/notice_relay.h"
#include "window_tasks.h"

namespace pictrim::ui {

// Notices as MessageBoxW owned by a window. A window belongs to the thread
// that made it; the relay's tasks reach that thread as kShowNoticeMessage,
// which the owner's window procedure hands to ShowPending.
class WindowNotices : public NoticeRelay {
public:
    static constexpr UINT kShowNoticeMessage = WM_APP + 1;

    WindowNotices() = default;
    ~WindowNotices() override = default;

    void SetOwner(HWND owner) {
        m_owner = owner;
        m_tasks.SetWindow(owner);
    }
    void ShowPending() { m_tasks.RunPending(); }

private:
    struct BoxWatch;
    bool OnDialogThread() const override;
    bool PostToDialogThread(std::function<void()> task) override;
    NoticeAnswer ShowBox(const Notice& notice) override;
    void CloseOpenBoxes() override;
    static LRESULT CALLBACK NoteNewBox(int code, WPARAM wParam, LPARAM lParam);
    static thread_local BoxWatch* s_watch;

    HWND m_owner = nullptr;
    WindowTasks m_tasks{kShowNoticeMessage};
    std::vector<HWND> m_open;  // owner's thread only
};

}  // namespace pictrim::ui
