#include "batch_run.h"

#include <filesystem>
#include <new>
#include <system_error>
#include <thread>

#include "engine/exec_thread.h"
#include "platform/utf8_path.h"

namespace pictrim::cli {

BatchRun::BatchRun(const CliOptions& options, const std::vector<BatchItem>& items, BatchConsole& console)
    : m_options(options), m_items(items), m_console(console), m_notices(items.size()) {}

BatchRun::Counts BatchRun::Run() {
    if (m_options.targetDirectory) {
        std::error_code ec;  // a folder that cannot be made is told per file, when its job cannot open
        std::filesystem::create_directories(platform::PathFromUtf8(*m_options.targetDirectory), ec);
    }
    {
        platform::CommitGroup commits;
        const unsigned jobs = m_options.jobs != 0 ? m_options.jobs : std::max(1u, std::thread::hardware_concurrency());
        std::vector<std::thread> workers;
        for (unsigned i = 1; i < jobs && i < m_items.size(); ++i) {
            try {
                workers.emplace_back(&BatchRun::Work, this, std::ref(commits));
            } catch (const std::system_error&) {
                break;  // fewer files at once, that is all
            } catch (const std::bad_alloc&) {
                break;
            }
        }
        Work(commits);
        for (std::thread& worker : workers) worker.join();
        commits.Drain();
    }

    Counts counts;
    for (const auto& notices : m_notices) {
        switch (notices ? notices->Result() : FileNotices::Outcome::NotDone) {
        case FileNotices::Outcome::Converted: ++counts.converted; break;
        case FileNotices::Outcome::Skipped: ++counts.skipped; break;
        case FileNotices::Outcome::Refused: ++counts.refused; break;
        case FileNotices::Outcome::Failed: ++counts.failed; break;
        case FileNotices::Outcome::NotDone: ++counts.notDone; break;
        }
    }
    return counts;
}

void BatchRun::Stop() {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (const auto& lifetime : m_running) lifetime->RequestStop();
    m_console.CancelQuestions();
}

void BatchRun::Work(platform::CommitGroup& commits) {
    for (std::size_t index = m_next++; index < m_items.size(); index = m_next++) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
        }
        Convert(index, commits);
    }
}

void BatchRun::Convert(std::size_t index, platform::CommitGroup& commits) {
    const BatchItem& item = m_items[index];
    m_notices[index] = std::make_unique<FileNotices>(m_console, item);
    FileNotices& notices = *m_notices[index];
    if (!item.refusal.empty()) {
        notices.ShowNotice({item.refusal, {}, platform::NoticeButtons::Ok, platform::NoticeIcon::None,
                            platform::NoticeKind::Refusal});
        m_console.Finished(item);
        return;
    }
    m_console.Started(item);
    // The mirrored tree is made as it is needed; a folder that cannot be
    // made is told by the job, which cannot open the destination.
    std::error_code ec;
    const std::filesystem::path folder = platform::PathFromUtf8(item.destination).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);

    CExecThread job({&notices, item.source, item.destination, nullptr, m_options.percent, m_options.ratioIndex,
                     m_options.preserveTimestamps, &commits});
    const auto lifetime = job.Lifetime();
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return;
        m_running.insert(lifetime);
    }
    job.ConversionJob();  // here, on this thread of the run
    {
        std::lock_guard lock(m_mutex);
        m_running.erase(lifetime);
    }
    m_console.Finished(item);
}

}  // namespace pictrim::cli
