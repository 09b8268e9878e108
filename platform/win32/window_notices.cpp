#include "window_notices.h"

#include <utility>

#include "wide_path.h"

namespace pictrim::platform {

namespace {

NoticeAnswer Unanswered(const Notice& notice) {
    return notice.buttons == NoticeButtons::YesNo ? NoticeAnswer::No : NoticeAnswer::Ok;
}

}  // namespace

NoticeAnswer WindowNotices::ShowNotice(const Notice& notice) {
    if (m_owner == nullptr || GetWindowThreadProcessId(m_owner, nullptr) == GetCurrentThreadId()) {
        return ShowHere(notice);
    }
    auto pending = std::make_shared<Pending>(Pending{notice, std::nullopt});
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
        m_pending.push_back(pending);
    }
    if (!PostMessageW(m_owner, kShowNoticeMessage, 0, 0)) {
        std::lock_guard lock(m_mutex);
        std::erase(m_pending, pending);
        return Unanswered(notice);
    }
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return pending->answer.has_value() || m_dismissed; });
    return pending->answer.value_or(Unanswered(notice));
}

void WindowNotices::ShowPending() {
    for (;;) {
        std::shared_ptr<Pending> pending;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty()) return;
            pending = m_pending.front();
            m_pending.pop_front();
        }
        const NoticeAnswer answer = ShowHere(pending->notice);
        {
            std::lock_guard lock(m_mutex);
            pending->answer = answer;
        }
        m_answered.notify_all();
    }
}

// MessageBoxW does not say which window it made, and DismissAll must find
// it: a hook on this thread notes the first top-level window made while the
// box is being shown.
struct WindowNotices::BoxWatch {
    WindowNotices* self;
    HWND box = nullptr;
};

thread_local WindowNotices::BoxWatch* WindowNotices::s_watch = nullptr;

LRESULT CALLBACK WindowNotices::NoteNewBox(int code, WPARAM wParam, LPARAM lParam) {
    BoxWatch* watch = s_watch;
    if (code == HCBT_CREATEWND && watch != nullptr && watch->box == nullptr &&
        (reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->style & WS_CHILD) == 0) {
        watch->box = reinterpret_cast<HWND>(wParam);
        watch->self->m_open.push_back(watch->box);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

NoticeAnswer WindowNotices::ShowHere(const Notice& notice) {
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
    }
    const bool question = notice.buttons == NoticeButtons::YesNo;
    UINT flags = question ? MB_YESNO | MB_DEFBUTTON1 : MB_OK;
    if (notice.icon == NoticeIcon::Exclamation) flags |= MB_ICONEXCLAMATION;
    if (m_owner == nullptr) flags |= MB_TASKMODAL;
    const std::wstring text = Wide(notice.text);
    const std::wstring caption = Wide(notice.caption);

    BoxWatch watch{this};
    BoxWatch* const outer = std::exchange(s_watch, &watch);
    HHOOK hook = SetWindowsHookExW(WH_CBT, NoteNewBox, nullptr, GetCurrentThreadId());
    const int result = MessageBoxW(m_owner, text.c_str(), caption.c_str(), flags);
    if (hook != nullptr) UnhookWindowsHookEx(hook);
    s_watch = outer;
    std::erase(m_open, watch.box);

    if (!question) return NoticeAnswer::Ok;
    return result == IDYES ? NoticeAnswer::Yes : NoticeAnswer::No;
}

void WindowNotices::DismissAll() {
    {
        std::lock_guard lock(m_mutex);
        m_dismissed = true;
        m_pending.clear();
    }
    m_answered.notify_all();
    for (HWND box : m_open) {
        // A Yes/No box has no Cancel: it ends on its own buttons only.
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK, BN_CLICKED), 0);
    }
}

}  // namespace pictrim::platform
