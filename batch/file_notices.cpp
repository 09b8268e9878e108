#include "file_notices.h"

namespace pictrim::batch {

void FileNotices::Tell(Outcome outcome, const std::string& reason, SkipCause cause) {
    m_outcome = outcome;
    m_events.Finished(m_item, outcome, reason, cause);
}

bool FileNotices::Clashed() {
    const auto other = m_commits.PlacedAt(m_item.destination);
    if (!other || *other == m_item.source) return false;
    Tell(Outcome::Refused, "its destination " + m_item.destination + " is already that of " + *other);
    return true;
}

platform::NoticeAnswer FileNotices::ShowNotice(const platform::Notice& notice) {
    using platform::NoticeKind;
    switch (notice.kind) {
    case NoticeKind::Question: {
        if (Clashed()) return platform::NoticeAnswer::No;
        SkipCause cause = SkipCause::Answer;
        const auto answer = m_ask(m_item, notice, cause);
        if (!answer) return platform::NoticeAnswer::No;  // stopping: not done
        if (*answer != platform::NoticeAnswer::Yes) Tell(Outcome::Skipped, {}, cause);
        return *answer;
    }
    case NoticeKind::Completion: Tell(Outcome::Converted, {}); break;
    case NoticeKind::Refusal: Tell(Outcome::Refused, notice.text); break;
    case NoticeKind::Failure:
        // Losing the name to a file of the run (they came in place at the
        // same time) is the same clash.
        if (Clashed()) break;
        Tell(Outcome::Failed, notice.text);
        break;
    }
    return platform::NoticeAnswer::Ok;
}

}  // namespace pictrim::batch
