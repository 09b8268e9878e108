#pragma once

#include <atomic>
#include <functional>
#include <optional>

#include "batch_events.h"
#include "batch_plan.h"
#include "platform/commit_group.h"
#include "platform/notice.h"

namespace pictrim::batch {

// The notices of one file's job in a batch: told to the front end as the
// file's outcome, and remembered. A notice may come from the job's thread
// or, for the completion, from the commit group's. A destination that turns
// out to hold another file of the run (two names that differ only in case,
// in a folder that ignores case) is a clash like two sources for one name:
// refused, naming both, never replaced or asked about.
class FileNotices : public platform::NoticeOwner {
public:
    // Asks about an existing destination by the run's rules: Yes or No with
    // why it was skipped, none when the run is stopping.
    using AskRule = std::function<std::optional<platform::NoticeAnswer>(const Item&, const platform::Notice&, SkipCause&)>;

    FileNotices(Events& events, const Item& item, const platform::CommitGroup& commits, const AskRule& ask)
        : m_events(events), m_item(item), m_commits(commits), m_ask(ask) {}
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override;
    Outcome Result() const { return m_outcome; }

private:
    // True, after telling it, when the destination holds another file of the run.
    bool Clashed();
    void Tell(Outcome outcome, const std::string& reason, SkipCause cause = SkipCause::Answer);

    Events& m_events;
    const Item& m_item;
    const platform::CommitGroup& m_commits;
    const AskRule& m_ask;
    std::atomic<Outcome> m_outcome{Outcome::NotDone};
};

}  // namespace pictrim::batch
