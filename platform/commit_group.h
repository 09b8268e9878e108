#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "replacement_file.h"
#include "source_file.h"

namespace pictrim::platform {

// Makes many finished files durable together instead of one disk flush
// after another. Files handed in while a group is being flushed wait and
// form the next group, so groups grow exactly as much as flushing is slow.
// The files of a group are flushed (on a local disk by one flush of the
// whole file system, elsewhere each on its own), then put in place, then
// every folder of the group is flushed once. A name points to a new file only after its data is durable, so a
// power cut leaves every destination as it was or complete, as Commit does.
// A file the group has put in place is never replaced by another of its
// files: in a folder that ignores case, "a.bmp" and "A.bmp" are one name.
class CommitGroup {
public:
    using Done = std::function<void(ReplacementFile::CommitResult)>;

    // maxHeld: how many replaced files may be held open at once (see
    // m_toRelease); none is held with 0.
    explicit CommitGroup(std::size_t maxWaiting = 256, std::size_t maxHeld = 0);
    ~CommitGroup();  // commits everything handed in first
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Takes a written file; `done` is called, on the group's thread, once
    // the file is in place and durable or has failed (NameTaken when its
    // name holds a file of the group's). `label` names the file's origin
    // for PlacedAt. Waits while maxWaiting files are waiting already: each
    // holds a descriptor.
    void Submit(ReplacementFile file, Done done, std::string label = {});
    // Returns when everything handed in so far is done.
    void Drain();
    // The label of the file under `path` if the group put it there
    // (durable or not yet); none for any other file or none at all.
    std::optional<std::string> PlacedAt(const std::string& path) const;

private:
    struct Entry {
        Entry(ReplacementFile&& f, Done&& d, std::string&& l) : file(std::move(f)), done(std::move(d)), label(std::move(l)) {}
        ReplacementFile file;
        Done done;
        std::string label;
    };
    void Run();
    void Release();  // the releasing thread's loop
    void CommitTogether(std::deque<Entry>& group);
    ReplacementFile::CommitResult Publish(ReplacementFile& file, const std::string& label);
    std::optional<std::string> PlacedAtLocked(const std::string& path) const;  // m_placedMutex held

    // What the group has put in place, with the labels: by identity, and by
    // folder and name folded to lower case, for folders that ignore case and
    // give each spelling of a name an identity of its own (FAT through FUSE).
    mutable std::mutex m_placedMutex;
    std::map<FileIdentity, std::string> m_placed;
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> m_placedNames;  // -> name, label

    // Relative names are taken from here: asked once for the group's life,
    // as the run's own relative names assume it does not change meanwhile.
    const std::string m_workingFolder;

    // Per destination folder: the file system to flush whole, if it is one.
    std::map<std::string, std::optional<std::uint64_t>> m_flushedWhole;  // the group's thread only

    const std::size_t m_maxWaiting;
    const std::size_t m_maxHeld;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_waiting;
    bool m_committing = false;
    bool m_closing = false;
    std::thread m_thread;  // not joinable when no thread could be had

    // Files a group replaced, held open by the group so that the rename
    // does not free their blocks, let go of here: freeing them waits for the
    // disk where it discards what is freed (ext4 mounted with discard), a
    // wait the group would pay once per replaced file, one after another.
    // A few threads let go side by side: one alone paid those waits in turn
    // and was the last to finish.
    std::mutex m_releaseMutex;
    std::condition_variable m_releaseChanged;
    std::vector<std::unique_ptr<SourceFile>> m_toRelease;
    bool m_releaseClosing = false;
    static constexpr unsigned kReleasers = 4;
    std::vector<std::thread> m_releasers;  // none: each group lets go of its own
};

}  // namespace pictrim::platform
