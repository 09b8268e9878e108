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

    const CliOptions& m_options;
    const std::vector<BatchItem>& m_items;
    BatchConsole& m_console;
    std::vector<std::unique_ptr<FileNotices>> m_notices;
    std::atomic<std::size_t> m_next{0};

    std::mutex m_folderMutex;  // a folder is made, and flushed, by one job while the others wait
    std::set<std::string> m_folders;  // made or found there, and flushed
    std::mutex m_mutex;
    bool m_stopping = false;
    std::set<std::shared_ptr<platform::ThreadLifetime>> m_running;
};

}  // namespace pictrim::cli
