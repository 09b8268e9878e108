#include "window_notices.h"

#include <utility>

#include "platform/win32/wide_path.h"

namespace pictrim::ui {

bool WindowNotices::OnDialogThread() const {
    return m_owner == nullptr || GetWindowThreadProcessId(m_owner, nullptr) == GetCurrentThreadId();
}

bool WindowNotices::PostToDialogThread(std::function<void()> task) { return m_tasks.Post(std::move(task)); }

// MessageBoxW does not say which window it made, and CloseOpenBoxes must
// find it: a hook on this thread notes the first top-level window made while
// the box is being shown.
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

NoticeAnswer WindowNotices::ShowBox(const Notice& notice) {
    const bool question = notice.buttons == NoticeButtons::YesNo;
    UINT flags = question ? MB_YESNO | MB_DEFBUTTON1 : MB_OK;
    if (notice.icon == NoticeIcon::Exclamation) flags |= MB_ICONEXCLAMATION;
    if (m_owner == nullptr) flags |= MB_TASKMODAL;
    const std::wstring text = platform::Wide(notice.text);
    const std::wstring caption = platform::Wide(notice.caption);

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

void WindowNotices::CloseOpenBoxes() {
    m_tasks.Clear();
    for (HWND box : m_open) {
        // A Yes/No box has no Cancel: it ends on its own buttons only.
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(GetDlgItem(box, IDNO) != nullptr ? IDNO : IDOK, BN_CLICKED), 0);
    }
}

}  // namespace pictrim::ui
