// libFuzzer target: arbitrary bytes as the source file, through the whole
// conversion job at every ratio. Whatever the bytes, the job ends idle with
// one notice, touches no memory it does not own, and leaves either nothing or
// a complete destination, exactly as long as its header says.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/exec_thread.h"
#include "engine/ratio.h"

namespace {

namespace fs = std::filesystem;
using namespace pictrim::platform;

struct CountingNotices : NoticeOwner {
    NoticeAnswer ShowNotice(const Notice& notice) override {
        if (notice.buttons == NoticeButtons::YesNo) return NoticeAnswer::Yes;
        ++shown;
        completed = notice.kind == NoticeKind::Completion;
        return NoticeAnswer::Ok;
    }
    int shown = 0;
    bool completed = false;
};

const std::string kPrefix = "pictrim-fuzz-";

// The working folders of harnesses that died without removing theirs (a
// sanitizer's report ends the process at once): "pictrim-fuzz-<pid>-..."
// whose process is gone.
void RemoveDeadHarnessFolders(const fs::path& base) {
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kPrefix, 0) != 0) continue;
        const long pid = std::strtol(name.c_str() + kPrefix.size(), nullptr, 10);
        std::error_code ignored;
        if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(it->path(), ignored);
    }
}

// In memory-backed storage: flushing to a disk would slow every run a
// thousandfold and find nothing more. Removed when the harness ends, and
// before it reports a finding (libFuzzer keeps the input itself).
struct WorkFolder {
    WorkFolder() {
        const fs::path base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        RemoveDeadHarnessFolders(base);
        std::string pattern = (base / (kPrefix + std::to_string(getpid()) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        path = pattern;
    }
    ~WorkFolder() { Remove(); }
    void Remove() const {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

const WorkFolder kWork;
const fs::path& kDir = kWork.path;

[[noreturn]] void Finding() {
    kWork.Remove();
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const fs::path src = kDir / "src.bmp", dst = kDir / "dst.bmp";
    std::ofstream(src, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    for (std::size_t index = 0; index < pictrim::RatioList.size(); ++index) {
        fs::remove(dst);
        CountingNotices notices;
        pictrim::CExecThread job(
            {&notices, src, dst, nullptr, pictrim::RatioList[index].percent, static_cast<std::int32_t>(index)});
        job.ConversionJob();
        std::ifstream out(dst, std::ios::binary);
        if (notices.shown != 1 || job.m_bBusy != 0 || out.is_open() != notices.completed) Finding();
        unsigned char h[6] = {};
        if (out.is_open() && !out.read(reinterpret_cast<char*>(h), 6)) Finding();
        const std::uintmax_t declared =
            h[2] | (std::uintmax_t{h[3]} << 8) | (std::uintmax_t{h[4]} << 16) | (std::uintmax_t{h[5]} << 24);
        if (out.is_open() && declared != fs::file_size(dst)) Finding();
    }
    return 0;
}
