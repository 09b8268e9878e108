#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "batch_console.h"
#include "batch_plan.h"
#include "cli_options.h"
#include "file_notices.h"
#include "platform/commit_group.h"
#include "platform/worker_thread.h"

namespace pictrim::cli {

// Runs the jobs of a batch, a few files at a time, each file's job on a
// thread of the run, and makes the finished files durable in groups.
class BatchRun {
public:
    struct Counts {
        std::size_t converted = 0, skipped = 0, refused = 0, failed = 0, notDone = 0;
    };

    BatchRun(const CliOptions& options, const std::vector<BatchItem>& items, BatchConsole& console);

    // Returns when every file is done, or after Stop when the jobs in
    // flight have stopped and the finished files are in place.
    Counts Run();
    // From any thread: starts no more files and stops the running ones
    // between rows, their destinations as they were.
    void Stop();

private:
    void Work(platform::CommitGroup& commits);
    void Convert(std::size_t index, platform::CommitGroup& commits);
    // Makes the missing folders of `folder`; false when it lies in a folder
    // made by the run that could not be made durable.
    bool MakeFolders(const std::string& folder);

    const CliOptions& m_options;
    const std::vector<BatchItem>& m_items;
    BatchConsole& m_console;
    std::vector<std::unique_ptr<FileNotices>> m_notices;
    std::atomic<std::size_t> m_next{0};

    std::mutex m_folderMutex;  // a folder is made, and flushed, by one job while the others wait
    // Folders the run made whose parent could not be flushed: they may
    // vanish in a power cut with everything in them.
    std::set<std::string> m_unflushed;
    std::set<std::string> m_present;  // found there or made and flushed: not looked at again
    std::mutex m_mutex;
    bool m_stopping = false;
    std::set<std::shared_ptr<platform::ThreadLifetime>> m_running;
};

}  // namespace pictrim::cli
