#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pictrim {

// Threads kept for the life of the process, shared by every job. Starting
// threads for each band cost a large file about seventy thread starts, and
// a small one more than its conversion; these start once, on first use.
class WorkerPool {
public:
    // One thread fewer than the processor has cores: the caller of Run is
    // the other. Never destroyed, so that a job still running while the
    // process exits finds its threads in place.
    static WorkerPool& Shared();

    explicit WorkerPool(unsigned threads);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    // Runs task(0) .. task(count - 1) and returns when all have returned.
    // The caller takes tasks too, one after another, so every task runs
    // even when the pool's threads are busy with other jobs or could not
    // be started; an idle thread takes the next one not yet taken.
    void Run(unsigned count, const std::function<void(unsigned)>& task);

private:
    struct Batch;

    void Start();
    void Serve();
    // Takes the batch's next task, or none when all are taken.
    static bool Take(Batch& batch, unsigned& index);

    const unsigned m_wanted;
    std::once_flag m_started;
    std::mutex m_mutex;
    std::condition_variable m_work;  // a batch was queued, or the pool ends
    std::condition_variable m_done;  // a batch's task ended
    std::deque<Batch*> m_queue;      // batches with tasks not yet taken
    std::vector<std::thread> m_threads;
    bool m_ending = false;
};

}  // namespace pictrim
