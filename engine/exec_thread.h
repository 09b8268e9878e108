#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "job_params.h"
#include "platform/notice.h"
#include "platform/window.h"
#include "platform/worker_thread.h"

namespace pictrim {

// One conversion on a worker thread: built from JobParams, it runs
// ConversionJob once and, with m_bAutoDelete, deletes itself when its
// thread ends. A stop request (Lifetime()->RequestStop()) makes the job end
// between rows without a notice, leaving the destination as it was.
class CExecThread : public platform::WorkerThread {
public:
    explicit CExecThread(JobParams params);
    ~CExecThread() override;

    // Asks before overwriting, checks the source, converts, writes the
    // destination whole or not at all, and tells every outcome in a notice.
    void ConversionJob();

    // 1 exactly while the job runs.
    std::atomic<std::int32_t> m_bBusy{0};

protected:
    bool InitInstance() override;

private:
    bool RunSteps();
    void Tell(const platform::Notice& notice);
    platform::NoticeAnswer Ask(const platform::Notice& notice);
    void EnableExecute(bool enable);

    platform::NoticeOwner* m_hWndOwner;
    std::string m_strSrcPath;
    std::string m_strDstPath;
    platform::Window* m_pExecButton;
    std::int32_t m_nPercent;
    std::int32_t m_nRatioIndex;
    bool m_bPreserveTimestamps;
    platform::CommitGroup* m_pCommits;
};

}  // namespace pictrim
