#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch_events.h"
#include "batch_plan.h"
#include "batch_settings.h"
#include "file_notices.h"
#include "platform/commit_group.h"
#include "platform/worker_thread.h"

namespace pictrim::batch {

// Runs the jobs of a batch, a few files at a time, each file's job on a
// thread of the run, and makes the finished files durable in groups.
class Runner {
public:
    Runner(const Settings& settings, const std::vector<Item>& items, Events& events);
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // Returns when every file is done, or after Stop when the jobs in
    // flight have stopped and the finished files are in place.
    Counts Run();
    // From any thread: starts no more files and stops the running ones
    // between rows, their destinations as they were; no question is asked
    // any more.
    void Stop();

private:
    void Work(platform::CommitGroup& commits);
    void Convert(std::size_t index, platform::CommitGroup& commits);
    // Makes the missing folders of `folder`; false when it lies in a folder
    // made by the run that could not be made durable.
    bool MakeFolders(const std::string& folder);
    std::optional<platform::NoticeAnswer> AskOverwrite(const Item& item, const platform::Notice& question,
                                                       SkipCause& cause);

    const Settings m_settings;
    const std::vector<Item>& m_items;
    Events& m_events;
    const FileNotices::AskRule m_ask;
    std::vector<std::unique_ptr<FileNotices>> m_notices;
    std::atomic<std::size_t> m_next{0};

    std::mutex m_folderMutex;  // a folder is made, and flushed, by one job while the others wait
    // Folders the run made whose parent could not be flushed: they may
    // vanish in a power cut with everything in them.
    std::set<std::string> m_unflushed;
    std::set<std::string> m_present;  // found there or made and flushed: not looked at again

    std::mutex m_askMutex;  // one question at a time; the other jobs keep converting meanwhile
    enum class Standing { Ask, All, None } m_standing = Standing::Ask;  // m_mutex

    std::mutex m_mutex;
    bool m_stopping = false;
    std::set<std::shared_ptr<platform::ThreadLifetime>> m_running;
};

}  // namespace pictrim::batch
