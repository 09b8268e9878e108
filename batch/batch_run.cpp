#include "batch_run.h"

#include <algorithm>
#include <new>
#include <thread>

#include "engine/exec_thread.h"
#include "engine/job_notices.h"
#include "platform/open_failures.h"
#include "platform/replacement_file.h"
#include "platform/path_checks.h"

namespace pictrim::batch {

Runner::Runner(const Settings& settings, const std::vector<Item>& items, Events& events)
    : m_settings(settings),
      m_items(items),
      m_events(events),
      m_ask([this](const Item& item, const platform::Notice& question, SkipCause& cause) {
          return AskOverwrite(item, question, cause);
      }),
      m_notices(items.size()) {}

namespace {

constexpr std::size_t kMost = 256, kSpare = 16, kPerJob = 4;

// Each file waiting to be committed holds a descriptor, and the group being
// flushed as many again; each job a few more. Sized to the process's limit,
// the queue makes the jobs wait instead of failing their opens.
std::size_t WaitingRoom(unsigned jobs) {
    const std::size_t limit = platform::DescriptorLimit();
    const std::size_t reserved = kSpare + kPerJob * jobs;
    if (limit == 0) return kMost;
    return std::clamp<std::size_t>(limit > reserved ? (limit - reserved) / 2 : 1, 1, kMost);
}

// The replaced files the group may hold open meanwhile: what the process's
// limit leaves beside the waiting room and the group being flushed.
std::size_t HeldRoom(unsigned jobs, std::size_t room) {
    const std::size_t limit = platform::DescriptorLimit();
    const std::size_t used = kSpare + kPerJob * jobs + 2 * room;
    if (limit == 0) return kMost;
    return std::min(limit > used ? limit - used : 0, kMost);
}

}  // namespace

Counts Runner::Run() {
    {
        // A source may look like an abandoned temporary file of a folder
        // the run writes to; it is the run's, not litter.
        std::vector<platform::FileIdentity> sources;
        std::vector<std::string> paths;
        for (const Item& item : m_items) {
            if (item.identity) sources.push_back(*item.identity);
            paths.push_back(item.source);
        }
        platform::ReplacementFile::SpareFromCleanUp(sources, paths);
    }
    {
        const unsigned jobs = m_settings.jobs != 0 ? m_settings.jobs : std::max(1u, std::thread::hardware_concurrency());
        const std::size_t room = WaitingRoom(jobs);
        platform::CommitGroup commits(room, HeldRoom(jobs, room));
        std::vector<std::thread> workers;
        for (unsigned i = 1; i < jobs && i < m_items.size(); ++i) {
            try {
                workers.emplace_back(&Runner::Work, this, std::ref(commits));
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
        switch (notices ? notices->Result() : Outcome::NotDone) {
        case Outcome::Converted: ++counts.converted; break;
        case Outcome::Skipped: ++counts.skipped; break;
        case Outcome::Refused: ++counts.refused; break;
        case Outcome::Failed: ++counts.failed; break;
        case Outcome::NotDone: ++counts.notDone; break;
        }
    }
    m_events.Ended(counts);
    return counts;
}

void Runner::Stop() {
    std::lock_guard lock(m_mutex);
    m_stopping = true;
    for (const auto& lifetime : m_running) lifetime->RequestStop();
    m_events.CancelQuestions();
}

std::optional<platform::NoticeAnswer> Runner::AskOverwrite(const Item& item, const platform::Notice& question,
                                                           SkipCause& cause) {
    using platform::NoticeAnswer;
    std::lock_guard asking(m_askMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) return std::nullopt;  // no new question
        if (m_settings.overwrite == Overwrite::Yes || m_standing == Standing::All) return NoticeAnswer::Yes;
        cause = m_settings.overwrite == Overwrite::No ? SkipCause::Policy : SkipCause::EarlierNone;
        if (m_settings.overwrite == Overwrite::No || m_standing == Standing::None) return NoticeAnswer::No;
        cause = SkipCause::Answer;
    }
    // Asked without the lock: Stop must get through while the user thinks.
    const Events::Answer answer = m_events.AskOverwrite(item, question.text);
    std::lock_guard lock(m_mutex);
    switch (answer) {
    case Events::Answer::Yes: return NoticeAnswer::Yes;
    case Events::Answer::No: return NoticeAnswer::No;
    case Events::Answer::All: m_standing = Standing::All; return NoticeAnswer::Yes;
    case Events::Answer::None: m_standing = Standing::None; return NoticeAnswer::No;
    case Events::Answer::Cancelled: break;
    }
    return std::nullopt;
}

void Runner::Work(platform::CommitGroup& commits) {
    for (std::size_t index = m_next++; index < m_items.size(); index = m_next++) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) return;
        }
        Convert(index, commits);
    }
}

// The target folder and the mirrored tree are made as they are needed, one
// folder at a time. One that cannot be made is told by the job, which cannot
// open the destination. One made whose parent could not be flushed is not
// flushed again: a flush that failed once may later succeed without what it
// lost, so nothing inside that folder is ever reported done.
bool Runner::MakeFolders(const std::string& folder) {
    const auto isFolder = [](const std::string& path) {
        const auto facts = platform::FactsOf(path);
        return facts && facts->folder;
    };
    std::lock_guard lock(m_folderMutex);
    if (m_present.count(folder) != 0) return true;  // a thousand files go into one folder
    std::vector<std::string> missing;  // innermost first
    bool found = false;
    for (std::string at = folder;; at = platform::FolderOf(at)) {
        if (m_unflushed.count(at) != 0) return false;
        found = found || isFolder(at);
        if (!found) missing.push_back(at);
        if (!platform::HasFileName(at)) break;  // a root, "." or ".."
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (platform::ReplacementFile::MakeFolders(*it)) continue;
        if (!isFolder(*it)) return true;  // not made: the job says so
        m_unflushed.insert(*it);
        return false;
    }
    m_present.insert(folder);
    return true;
}

void Runner::Convert(std::size_t index, platform::CommitGroup& commits) {
    const Item& item = m_items[index];
    m_notices[index] = std::make_unique<FileNotices>(m_events, item, commits, m_ask);
    FileNotices& notices = *m_notices[index];
    if (!item.refusal.empty()) {
        notices.ShowNotice({item.refusal, {}, platform::NoticeButtons::Ok, platform::NoticeIcon::None,
                            platform::NoticeKind::Refusal});
        m_events.Processed(item);
        return;
    }
    m_events.Started(item);
    const std::string folder = platform::FolderOf(item.destination);
    if (!MakeFolders(folder)) {
        notices.ShowNotice(notices::WriteFailure(item.destination));
        m_events.Processed(item);
        return;
    }

    CExecThread job({&notices, item.source, item.destination, nullptr, m_settings.percent, m_settings.ratioIndex,
                     m_settings.keepTimes, &commits});
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
    m_events.Processed(item);
}

}  // namespace pictrim::batch
