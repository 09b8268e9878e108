#pragma once

#include <atomic>

#include "batch_console.h"
#include "batch_plan.h"
#include "platform/notice.h"

namespace pictrim::cli {

// The notices of one file's job in a batch: told on the shared console with
// the file's name, and remembered as the file's outcome. A notice may come
// from the job's thread or, for the completion, from the commit group's.
class FileNotices : public platform::NoticeOwner {
public:
    enum class Outcome { NotDone, Converted, Skipped, Refused, Failed };

    FileNotices(BatchConsole& console, const BatchItem& item) : m_console(console), m_item(item) {}
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override;
    Outcome Result() const { return m_outcome; }

private:
    BatchConsole& m_console;
    const BatchItem& m_item;
    std::atomic<Outcome> m_outcome{Outcome::NotDone};
};

}  // namespace pictrim::cli
