#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>

namespace pictrim::platform {

// What outlives a self-deleting worker: whoever started it can ask it to
// stop and wait for its end without touching the worker object, which may
// already be gone.
class ThreadLifetime {
public:
    void RequestStop() { m_stop.request_stop(); }
    std::stop_token StopToken() const { return m_stop.get_token(); }
    bool HasEnded() const;
    void WaitForEnd() const;

private:
    friend class WorkerThread;
    void MarkEnded();

    void Release(bool abandoned);
    bool WaitForResume();  // true when abandoned

    std::stop_source m_stop;
    // A mutex and condition variables, not a std::binary_semaphore: GCC
    // 12's semaphore can miss its wake-up where there is no futex (MinGW),
    // leaving a worker suspended for ever.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_ended;
    std::condition_variable m_resume;
    bool m_released = false;
    bool m_abandoned = false;
    bool m_hasEnded = false;
};

// A thread object in the framework's manner: created suspended, resumed,
// InitInstance runs on the new thread, ExitInstance follows, and with
// m_bAutoDelete the object deletes itself when its thread ends.
class WorkerThread {
public:
    WorkerThread();
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // False when the system cannot give another thread.
    bool CreateThread();
    void ResumeThread();
    std::shared_ptr<ThreadLifetime> Lifetime() const { return m_lifetime; }

    bool m_bAutoDelete = true;

protected:
    // A false result ends the thread; there is no message loop to enter.
    virtual bool InitInstance() = 0;
    virtual int ExitInstance() { return 0; }
    std::stop_token StopToken() const { return m_lifetime->StopToken(); }

private:
    static void Run(WorkerThread* self, std::shared_ptr<ThreadLifetime> lifetime);

    std::shared_ptr<ThreadLifetime> m_lifetime;
    bool m_created = false;
    bool m_resumed = false;
};

}  // namespace pictrim::platform
