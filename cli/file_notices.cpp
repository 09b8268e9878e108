#include "file_notices.h"

namespace pictrim::cli {

bool FileNotices::Clashed() {
    const auto other = m_commits.PlacedAt(m_item.destination);
    if (!other || *other == m_item.source) return false;
    m_outcome = Outcome::Refused;
    m_console.Problem(m_item, "its destination " + m_item.destination + " is already that of " + *other);
    return true;
}

platform::NoticeAnswer FileNotices::ShowNotice(const platform::Notice& notice) {
    using platform::NoticeKind;
    switch (notice.kind) {
    case NoticeKind::Question: {
        if (Clashed()) return platform::NoticeAnswer::No;
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
        // Losing the name to a file of the run (they came in place at the
        // same time) is the same clash.
        if (Clashed()) break;
        m_outcome = Outcome::Failed;
        m_console.Problem(m_item, notice.text);
        break;
    }
    return platform::NoticeAnswer::Ok;
}

}  // namespace pictrim::cli
