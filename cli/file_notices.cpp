#include "file_notices.h"

namespace pictrim::cli {

platform::NoticeAnswer FileNotices::ShowNotice(const platform::Notice& notice) {
    using platform::NoticeKind;
    switch (notice.kind) {
    case NoticeKind::Question: {
        const auto answer = m_console.AskOverwrite(m_item, notice);
        if (!answer) return platform::NoticeAnswer::No;  // interrupted: not done
        if (*answer != platform::NoticeAnswer::Yes) m_outcome = Outcome::Skipped;
        return *answer;
    }
    case NoticeKind::Completion:
        m_outcome = Outcome::Converted;
        m_console.Converted(m_item);
        break;
    case NoticeKind::Refusal:
        m_outcome = Outcome::Refused;
        m_console.Problem(m_item, notice.text);
        break;
    case NoticeKind::Failure:
        m_outcome = Outcome::Failed;
        m_console.Problem(m_item, notice.text);
        break;
    }
    return platform::NoticeAnswer::Ok;
}

}  // namespace pictrim::cli
