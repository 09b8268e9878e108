// libFuzzer target: arbitrary bytes as the source file, through the whole
// conversion job at every ratio. Whatever the bytes, the job ends with one
// notice, touches no memory it does not own, and leaves either nothing or a
// complete destination, exactly as long as its header says.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/exec_thread.h"
#include "engine/ratio.h"

namespace {

class CountingNotices : public pictrim::platform::NoticeOwner {
public:
    pictrim::platform::NoticeAnswer ShowNotice(const pictrim::platform::Notice& notice) override {
        if (notice.buttons == pictrim::platform::NoticeButtons::YesNo) return pictrim::platform::NoticeAnswer::Yes;
        ++shown;
        completed = notice.kind == pictrim::platform::NoticeKind::Completion;
        return pictrim::platform::NoticeAnswer::Ok;
    }
    int shown = 0;
    bool completed = false;
};

// In memory-backed storage: flushing to a disk would slow every run a
// thousandfold and find nothing more.
std::string WorkDir() {
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/pictrim-fuzz-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string src = WorkDir() + "/src.bmp", dst = WorkDir() + "/dst.bmp";
    std::FILE* f = std::fopen(src.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
    for (int index = 0; index < static_cast<int>(pictrim::RatioList.size()); ++index) {
        unlink(dst.c_str());
        CountingNotices notices;
        pictrim::CExecThread job({&notices, src, dst, nullptr, pictrim::RatioList[index].percent, index});
        job.ConversionJob();
        struct stat st {};
        const bool exists = stat(dst.c_str(), &st) == 0;
        if (notices.shown != 1 || job.m_bBusy != 0 || exists != notices.completed) std::abort();
        unsigned char header[6] = {};
        std::FILE* out = exists ? std::fopen(dst.c_str(), "rb") : nullptr;
        if (out != nullptr && (std::fread(header, 1, 6, out) != 6 || std::fclose(out) != 0)) std::abort();
        const long declared = header[2] | (header[3] << 8) | (header[4] << 16) | (long{header[5]} << 24);
        if (exists && declared != st.st_size) std::abort();
    }
    return 0;
}
