#include "worker_thread.h"

#include <system_error>
#include <thread>

namespace pictrim::platform {

bool ThreadLifetime::HasEnded() const {
    std::lock_guard lock(m_mutex);
    return m_hasEnded;
}

void ThreadLifetime::WaitForEnd() const {
    std::unique_lock lock(m_mutex);
    m_ended.wait(lock, [this] { return m_hasEnded; });
}

void ThreadLifetime::MarkEnded() {
    {
        std::lock_guard lock(m_mutex);
        m_hasEnded = true;
    }
    m_ended.notify_all();
}

WorkerThread::WorkerThread() : m_lifetime(std::make_shared<ThreadLifetime>()) {}

WorkerThread::~WorkerThread() {
    // A thread still waiting to be resumed must not run on a dead object.
    if (m_created && !m_resumed) {
        m_lifetime->m_abandoned = true;
        m_lifetime->m_resume.release();
    }
}

bool WorkerThread::CreateThread() {
    if (m_created) return false;
    try {
        std::thread(&WorkerThread::Run, this, m_lifetime).detach();
    } catch (const std::system_error&) {
        return false;
    }
    m_created = true;
    return true;
}

void WorkerThread::ResumeThread() {
    if (!m_created || m_resumed) return;
    m_resumed = true;
    m_lifetime->m_resume.release();
}

void WorkerThread::Run(WorkerThread* self, std::shared_ptr<ThreadLifetime> lifetime) {
    lifetime->m_resume.acquire();
    if (!lifetime->m_abandoned) {
        self->InitInstance();
        self->ExitInstance();
        if (self->m_bAutoDelete) delete self;
    }
    lifetime->MarkEnded();
}

}  // namespace pictrim::platform
