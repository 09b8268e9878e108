#include "job_harness.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/exec_thread.h"
#include "engine/ratio.h"

namespace pictrim::test {

std::string RunJob(const std::string& src, const std::string& dst, int index, int percent) {
    FakeNotices notices;
    FakeButton button;
    CExecThread job({&notices, src, dst, &button, percent != 0 ? percent : RatioList[index].percent, index});
    job.ConversionJob();
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(button.enabled);
    std::vector<std::string> outcomes;
    for (const auto& notice : notices.shown)
        if (notice.kind != platform::NoticeKind::Question) outcomes.push_back(notice.text);
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.empty() ? "(no notice)" : outcomes.back();
}

std::string RunJobInChild(const std::function<void()>& prepare, const std::string& src, const std::string& dst,
                          int index) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        prepare();
        const std::string text = RunJob(src, dst, index);
        const bool told = ::write(fds[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::_exit(told && !testing::Test::HasFailure() ? 0 : 1);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? text : text + " (child failed)";
}

void DropToNobody() {
    if (::geteuid() != 0) return;
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) std::abort();
}

}  // namespace pictrim::test
