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

void ThreadLifetime::Release(bool abandoned) {
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_abandoned = abandoned;
    }
    m_resume.notify_all();
}

bool ThreadLifetime::WaitForResume() {
    std::unique_lock lock(m_mutex);
    m_resume.wait(lock, [this] { return m_released; });
    return m_abandoned;
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
    if (m_created && !m_resumed) m_lifetime->Release(true);
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
    m_lifetime->Release(false);
}

void WorkerThread::Run(WorkerThread* self, std::shared_ptr<ThreadLifetime> lifetime) {
    if (!lifetime->WaitForResume()) {
        self->InitInstance();
        self->ExitInstance();
        if (self->m_bAutoDelete) delete self;
    }
    lifetime->MarkEnded();
}

}  // namespace pictrim::platform
