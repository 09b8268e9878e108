#pragma once

#include <atomic>

#include "batch_console.h"
#include "batch_plan.h"
#include "platform/commit_group.h"
#include "platform/notice.h"

namespace pictrim::cli {

// The notices of one file's job in a batch: told on the shared console with
// the file's name, and remembered as the file's outcome. A notice may come
// from the job's thread or, for the completion, from the commit group's.
// A destination that turns out to hold another file of the run (two names
// that differ only in case, in a folder that ignores case) is a clash like
// two sources for one name: refused, naming both, never replaced or asked about.
class FileNotices : public platform::NoticeOwner {
public:
    enum class Outcome { NotDone, Converted, Skipped, Refused, Failed };

    FileNotices(BatchConsole& console, const BatchItem& item, const platform::CommitGroup& commits)
        : m_console(console), m_item(item), m_commits(commits) {}
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override;
    Outcome Result() const { return m_outcome; }

private:
    // True, after telling it, when the destination holds another file of the run.
    bool Clashed();

    BatchConsole& m_console;
    const BatchItem& m_item;
    const platform::CommitGroup& m_commits;
    std::atomic<Outcome> m_outcome{Outcome::NotDone};
};

}  // namespace pictrim::cli
