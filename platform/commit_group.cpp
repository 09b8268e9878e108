#include "commit_group.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <set>
#include <system_error>
#include <vector>

#include "utf8_path.h"

namespace pictrim::platform {

namespace {

// Folder and name of a path, the folder as the file system resolves it
// ("lnk/.." is where the link points, not where it is), the name folded to
// lower case (ASCII: the folding every case-ignoring file system shares).
std::pair<std::string, std::string> FoldedPlace(const std::string& path, const std::string& workingFolder) {
    return {ComparablePath(FolderOf(path), workingFolder), FoldedAscii(NameOf(path))};
}

// Whether `folder` lists an entry spelled exactly `name`.
bool Lists(const std::string& folder, const std::string& name) {
    const FolderListing listing = ListFolder(folder);
    return std::any_of(listing.entries.begin(), listing.entries.end(), [&](const auto& e) { return e.name == name; });
}

}  // namespace

CommitGroup::CommitGroup(std::size_t maxWaiting, std::size_t maxHeld)
    : m_workingFolder(WorkingFolder()), m_maxWaiting(maxWaiting), m_maxHeld(maxHeld) {
    try {
        m_thread = std::thread(&CommitGroup::Run, this);
        for (unsigned i = 0; maxHeld != 0 && i < kReleasers; ++i) m_releasers.emplace_back(&CommitGroup::Release, this);
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
    {
        std::lock_guard lock(m_releaseMutex);
        m_releaseClosing = true;
    }
    m_releaseChanged.notify_all();
    for (std::thread& releaser : m_releasers) releaser.join();
}

void CommitGroup::Release() {
    for (;;) {
        std::unique_ptr<SourceFile> file;
        {
            std::unique_lock lock(m_releaseMutex);
            m_releaseChanged.wait(lock, [this] { return m_releaseClosing || !m_toRelease.empty(); });
            if (m_toRelease.empty()) return;
            file = std::move(m_toRelease.back());
            m_toRelease.pop_back();
        }
        file.reset();
    }
}

void CommitGroup::Submit(ReplacementFile file, Done done, std::string label) {
    file.StartFlush();  // the disk starts on it while the group before is flushed
    if (m_thread.joinable()) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.size() < m_maxWaiting; });
        try {
            // Nothing is moved from file or done unless the room was had.
            m_waiting.emplace_back(std::move(file), std::move(done), std::move(label));
            lock.unlock();
            m_changed.notify_all();
            return;
        } catch (const std::bad_alloc&) {
        }
    }
    // No thread, or no memory for the queue: committed here, alone.
    ReplacementFile::CommitResult result = file.FinishFlush() ? Publish(file, label) : ReplacementFile::CommitResult::Failed;
    if (result == ReplacementFile::CommitResult::Committed && !ReplacementFile::SyncFolder(file.Folder())) {
        result = ReplacementFile::CommitResult::Failed;
    }
    done(result);
}

std::optional<std::string> CommitGroup::PlacedAt(const std::string& path) const {
    std::lock_guard lock(m_placedMutex);
    return PlacedAtLocked(path);
}

std::optional<std::string> CommitGroup::PlacedAtLocked(const std::string& path) const {
    const auto there = IdentityOf(path);
    if (!there) return std::nullopt;
    if (const auto it = m_placed.find(*there); it != m_placed.end()) return it->second;
    // A name that differs from a placed one in case only, and that the
    // folder does not hold as spelled, is that file under the folder's rules.
    const auto it = m_placedNames.find(FoldedPlace(path, m_workingFolder));
    if (it == m_placedNames.end()) return std::nullopt;
    const auto& [name, label] = it->second;
    if (name == NameOf(path) || !Lists(FolderOf(path), name)) return std::nullopt;
    return label;
}

// Under the lock from the look at the name to the record of the new file,
// so that PlacedAt never misses a file that is already in place.
ReplacementFile::CommitResult CommitGroup::Publish(ReplacementFile& file, const std::string& label) {
    std::lock_guard lock(m_placedMutex);
    // A new file takes no name that is taken: only a replacing one is looked at.
    if (file.Replacing() && PlacedAtLocked(file.TargetPath())) {
        file.Discard();
        return ReplacementFile::CommitResult::NameTaken;
    }
    const ReplacementFile::CommitResult result = file.Publish();
    if (result == ReplacementFile::CommitResult::Committed) {
        try {
            m_placed.emplace(file.Published(), label);
            const auto place = FoldedPlace(file.TargetPath(), m_workingFolder);
            m_placedNames.emplace(place, std::pair(NameOf(file.TargetPath()), label));
        } catch (const std::bad_alloc&) {  // in place all the same; only not known as the group's
        }
    }
    return result;
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
    // One flush of each file system that is flushed whole, instead of one
    // per file, whose disk flushes and journal commits come one after
    // another. Where that flush fails each file is flushed on its own: the
    // failure may be another program's, and the file's own flush tells.
    std::vector<std::optional<std::uint64_t>> devices;
    devices.reserve(group.size());
    std::map<std::uint64_t, std::string> fileSystems;  // -> a folder on it
    for (const Entry& entry : group) {
        const std::string& folder = entry.file.Folder();
        auto known = m_flushedWhole.find(folder);
        if (known == m_flushedWhole.end()) known = m_flushedWhole.emplace(folder, ReplacementFile::FlushedWhole(folder)).first;
        devices.push_back(known->second);
        if (known->second) fileSystems.emplace(*known->second, folder);
    }
    std::set<std::uint64_t> synced;
    for (const auto& [device, folder] : fileSystems) {
        if (ReplacementFile::SyncFileSystem(folder)) synced.insert(device);
    }
    std::vector<ReplacementFile::CommitResult> results;
    results.reserve(group.size());
    for (std::size_t i = 0; i < group.size(); ++i) {
        ReplacementFile& file = group[i].file;
        const bool flushed = devices[i] && synced.count(*devices[i]) != 0 ? file.FinishFlushedWhole() : file.FinishFlush();
        results.push_back(flushed ? ReplacementFile::CommitResult::Committed : ReplacementFile::CommitResult::Failed);
    }
    std::set<std::string> folders;
    std::vector<std::unique_ptr<SourceFile>> replaced;
    std::size_t held = 0;  // at most: the releasing threads only let go
    if (!m_releasers.empty()) {
        std::lock_guard lock(m_releaseMutex);
        held = m_toRelease.size() + m_releasers.size();  // each may be closing one
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (results[i] != ReplacementFile::CommitResult::Committed) continue;
        // Only on the local disks flushed whole: elsewhere (Windows) an open
        // file may stand in the way of its replacement.
        if (devices[i] && group[i].file.Replacing() && !m_releasers.empty() && held + replaced.size() < m_maxHeld) {
            try {
                auto old = std::make_unique<SourceFile>();
                if (const Error error = old->Open(group[i].file.TargetPath()); !error) replaced.push_back(std::move(old));
            } catch (const std::bad_alloc&) {  // freed by the rename, that is all
            }
        }
        results[i] = Publish(group[i].file, group[i].label);
        if (results[i] == ReplacementFile::CommitResult::Committed) folders.insert(group[i].file.Folder());
    }
    // A name whose folder could not be flushed may not survive a power cut.
    std::set<std::string> unsynced;
    for (const std::string& folder : folders) {
        if (!ReplacementFile::SyncFolder(folder)) unsynced.insert(folder);
    }
    for (std::size_t i = 0; i < group.size(); ++i) {
        if (results[i] == ReplacementFile::CommitResult::Committed && unsynced.count(group[i].file.Folder()) != 0) {
            results[i] = ReplacementFile::CommitResult::Failed;
        }
        group[i].done(results[i]);
    }
    if (replaced.empty()) return;
    {
        std::lock_guard lock(m_releaseMutex);
        try {
            m_toRelease.insert(m_toRelease.end(), std::make_move_iterator(replaced.begin()),
                               std::make_move_iterator(replaced.end()));
        } catch (const std::bad_alloc&) {  // let go of here, below
        }
    }
    m_releaseChanged.notify_all();
}

}  // namespace pictrim::platform
