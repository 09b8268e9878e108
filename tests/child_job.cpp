#include "child_job.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "fake_notices.h"

namespace pictrim::test {

std::vector<std::string> RunJobInChild(const std::function<void()>& prepare, const std::string& src,
                                       const std::string& dst, int index) {
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed"};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        prepare();
        FakeNotices notices;
        CExecThread job({&notices, src, dst, nullptr, RatioList[index].percent, index});
        job.ConversionJob();
        for (const auto& text : notices.texts) {
            const std::string line = text + "\n";
            if (::write(fds[1], line.data(), line.size()) < 0) break;
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) lines.push_back("child did not end normally");
    return lines;
}

void DropToNobody() {
    if (::geteuid() != 0) return;
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) std::abort();
}

}  // namespace pictrim::test
