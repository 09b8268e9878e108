#include "commit_group.h"

#include <new>
#include <set>
#include <system_error>
#include <vector>

namespace pictrim::platform {

CommitGroup::CommitGroup(std::size_t maxWaiting) : m_maxWaiting(maxWaiting) {
    try {
        m_thread = std::thread(&CommitGroup::Run, this);
    } catch (const std::system_error&) {  // each file is then committed on its own
    } catch (const std::bad_alloc&) {
    }
}

CommitGroup::~CommitGroup() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void CommitGroup::Submit(ReplacementFile file, Done done) {
    file.StartFlush();  // the disk starts on it while the group before is flushed
    if (m_thread.joinable()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.size() < m_maxWaiting; });
        try {
            // Nothing is moved from file or done unless the room was had.
            m_waiting.emplace_back(std::move(file), std::move(done));
            lock.unlock();
            m_changed.notify_all();
            return;
        } catch (const std::bad_alloc&) {
        }
    }
    done(file.Commit());
}

void CommitGroup::Drain() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.empty() && !m_committing; });
}

void CommitGroup::Run() {
    for (;;) {
        std::deque<Entry> group;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] { return m_closing || !m_waiting.empty(); });
            if (m_waiting.empty()) return;
            group.swap(m_waiting);
            m_committing = true;
        }
        m_changed.notify_all();
        CommitTogether(group);
        {
            std::lock_guard lock(m_mutex);
            m_committing = false;
        }
        m_changed.notify_all();
    }
}

void CommitGroup::CommitTogether(std::deque<Entry>& group) {
    std::vector<ReplacementFile::CommitResult> results;
    results.reserve(group.size());
    for (Entry& entry : group) {
        results.push_back(entry.file.FinishFlush() ? ReplacementFile::CommitResult::Committed
                                                   : ReplacementFile::CommitResult::Failed);
    }
    std::set<std::string> folders;
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (results[i] != ReplacementFile::CommitResult::Committed) continue;
        results[i] = group[i].file.Publish();
        if (results[i] == ReplacementFile::CommitResult::Committed) folders.insert(group[i].file.Folder());
    }
    for (const std::string& folder : folders) ReplacementFile::SyncFolder(folder);
    for (std::size_t i = 0; i < group.size(); ++i) group[i].done(results[i]);
}

}  // namespace pictrim::platform
