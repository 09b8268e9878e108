#include "notice_relay.h"

#include <memory>
#include <optional>

namespace pictrim::ui {

namespace {

NoticeAnswer Unanswered(const Notice& notice) {
    return notice.buttons == NoticeButtons::YesNo ? NoticeAnswer::No : NoticeAnswer::Ok;
}

}  // namespace

NoticeAnswer NoticeRelay::ShowNotice(const Notice& notice) {
    if (OnDialogThread()) return ShowHere(notice);
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
    }
    // Shared with the task: the worker may stop waiting (dismissed) before
    // the dialog's thread gets to it.
    auto answer = std::make_shared<std::optional<NoticeAnswer>>();
    const bool posted = PostToDialogThread([this, answer, notice] {
        const NoticeAnswer given = ShowHere(notice);
        {
            std::lock_guard lock(m_mutex);
            *answer = given;
        }
        m_answered.notify_all();
    });
    if (!posted) return Unanswered(notice);
    std::unique_lock lock(m_mutex);
    m_answered.wait(lock, [&] { return answer->has_value() || m_dismissed; });
    return answer->value_or(Unanswered(notice));
}

NoticeAnswer NoticeRelay::ShowHere(const Notice& notice) {
    {
        std::lock_guard lock(m_mutex);
        if (m_dismissed) return Unanswered(notice);
    }
    return ShowBox(notice);
}

void NoticeRelay::DismissAll() {
    {
        std::lock_guard lock(m_mutex);
        m_dismissed = true;
    }
    m_answered.notify_all();
    CloseOpenBoxes();
}

}  // namespace pictrim::ui
