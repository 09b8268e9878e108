#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "replacement_file.h"

namespace pictrim::platform {

// Makes many finished files durable together instead of one disk flush
// after another. Files handed in while a group is being flushed wait and
// form the next group, so groups grow exactly as much as flushing is slow.
// Each file of a group is flushed (the journal commit of the first carries
// the others), then put in place, then every folder of the group is flushed
// once. A name points to a new file only after its data is durable, so a
// power cut leaves every destination as it was or complete, as Commit does.
class CommitGroup {
public:
    using Done = std::function<void(ReplacementFile::CommitResult)>;

    explicit CommitGroup(std::size_t maxWaiting = 256);
    ~CommitGroup();  // commits everything handed in first
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Takes a written file; `done` is called, on the group's thread, once
    // the file is in place and durable or has failed. Waits while
    // maxWaiting files are waiting already: each holds a descriptor.
    void Submit(ReplacementFile file, Done done);
    // Returns when everything handed in so far is done.
    void Drain();

private:
    struct Entry {
        Entry(ReplacementFile&& f, Done&& d) : file(std::move(f)), done(std::move(d)) {}
        ReplacementFile file;
        Done done;
    };
    void Run();
    static void CommitTogether(std::deque<Entry>& group);

    const std::size_t m_maxWaiting;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Entry> m_waiting;
    bool m_committing = false;
    bool m_closing = false;
    std::thread m_thread;  // not joinable when no thread could be had
};

}  // namespace pictrim::platform
