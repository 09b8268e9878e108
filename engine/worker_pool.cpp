#include "worker_pool.h"

#include <algorithm>
#include <new>
#include <system_error>

namespace pictrim {

// One Run call. It lives on the caller's stack: the caller does not return
// while a pool thread is still inside it (visitors counts those).
struct WorkerPool::Batch {
    const std::function<void(unsigned)>& task;
    unsigned count;
    unsigned next = 0;      // the first task not yet taken
    unsigned finished = 0;  // tasks that have returned
    unsigned visitors = 0;  // pool threads working on this batch
};

WorkerPool& WorkerPool::Shared() {
    static WorkerPool* const pool = new WorkerPool(std::max(1u, std::thread::hardware_concurrency()) - 1);
    return *pool;
}

WorkerPool::WorkerPool(unsigned threads) : m_wanted(threads) {}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_work.notify_all();
    for (std::thread& thread : m_threads) thread.join();
}

void WorkerPool::Start() {
    // Fewer threads than wanted, or none, when the system has none to give:
    // the callers then do the work themselves.
    try {
        m_threads.reserve(m_wanted);
        for (unsigned i = 0; i < m_wanted; ++i) m_threads.emplace_back([this] { Serve(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
}

bool WorkerPool::Take(Batch& batch, unsigned& index) {
    if (batch.next >= batch.count) return false;
    index = batch.next++;
    return true;
}

void WorkerPool::Run(unsigned count, const std::function<void(unsigned)>& task) {
    if (count == 0) return;
    if (count == 1 || m_wanted == 0) {
        for (unsigned i = 0; i < count; ++i) task(i);
        return;
    }
    std::call_once(m_started, [this] { Start(); });
    Batch batch{task, count};
    std::unique_lock lock(m_mutex);
    m_queue.push_back(&batch);
    m_work.notify_all();
    for (unsigned index = 0; Take(batch, index);) {
        lock.unlock();
        task(index);
        lock.lock();
        ++batch.finished;
    }
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), &batch), m_queue.end());
    m_done.wait(lock, [&] { return batch.finished == batch.count && batch.visitors == 0; });
}

void WorkerPool::Serve() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_ending || !m_queue.empty(); });
        if (m_ending) return;
        Batch& batch = *m_queue.front();
        ++batch.visitors;
        for (unsigned index = 0; Take(batch, index);) {
            lock.unlock();
            batch.task(index);
            lock.lock();
            ++batch.finished;
        }
        // All its tasks are taken: the next thread looks at the next batch.
        if (!m_queue.empty() && m_queue.front() == &batch) m_queue.pop_front();
        --batch.visitors;
        m_done.notify_all();
    }
}

}  // namespace pictrim
