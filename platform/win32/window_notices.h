#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/notice.h"

namespace pictrim::platform {

// Notices as MessageBoxW owned by a window. A window belongs to the thread
// that made it, so a worker's notice is posted to that thread and the
// worker waits for the answer; the window stays live meanwhile. The owner's
// window procedure hands kShowNoticeMessage to ShowPending.
class WindowNotices : public NoticeOwner {
public:
    static constexpr UINT kShowNoticeMessage = WM_APP + 1;

    WindowNotices() = default;
    WindowNotices(const WindowNotices&) = delete;
    WindowNotices& operator=(const WindowNotices&) = delete;

    void SetOwner(HWND owner) { m_owner = owner; }
    NoticeAnswer ShowNotice(const Notice& notice) override;
    void ShowPending();

    // Closes open notices and answers waiting and later ones at once (No or
    // OK), so that nothing keeps a worker from ending. Owner's thread only.
    void DismissAll();

private:
    struct Pending {
        Notice notice;
        std::optional<NoticeAnswer> answer;
    };
    struct BoxWatch;
    NoticeAnswer ShowHere(const Notice& notice);
    static LRESULT CALLBACK NoteNewBox(int code, WPARAM wParam, LPARAM lParam);
    static thread_local BoxWatch* s_watch;

    HWND m_owner = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::deque<std::shared_ptr<Pending>> m_pending;
    bool m_dismissed = false;
    std::vector<HWND> m_open;  // owner's thread only
};

}  // namespace pictrim::platform
