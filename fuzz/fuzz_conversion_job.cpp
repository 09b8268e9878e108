// libFuzzer target: arbitrary bytes as the source file, through the whole
// conversion job at every ratio. Whatever the bytes, the job must end with
// one notice, never touch memory it does not own, and leave either nothing
// or a complete, well-formed destination.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/bmp_layout.h"
#include "engine/exec_thread.h"
#include "engine/ratio.h"
#include "platform/notice.h"

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

// Files live in memory-backed storage: flushing to a disk would make each
// run a thousand times slower and find nothing more.
const std::string& WorkDir() {
    static const std::string dir = [] {
        std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/pictrim-fuzz-XXXXXX");
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    return dir;
}

std::uint32_t U32(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string src = WorkDir() + "/src.bmp";
    const std::string dst = WorkDir() + "/dst.bmp";
    if (std::FILE* f = std::fopen(src.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        std::abort();
    }
    for (int index = 0; index < static_cast<int>(pictrim::RatioList.size()); ++index) {
        unlink(dst.c_str());
        CountingNotices notices;
        pictrim::CExecThread job({&notices, src, dst, nullptr, pictrim::RatioList[index].percent, index});
        job.ConversionJob();
        if (notices.shown != 1 || job.m_bBusy != 0) std::abort();
        struct stat st {};
        const bool exists = stat(dst.c_str(), &st) == 0;
        if (exists != notices.completed) std::abort();
        if (exists) {
            // A complete destination is exactly as long as its header says.
            std::FILE* f = std::fopen(dst.c_str(), "rb");
            std::uint8_t header[54];
            if (f == nullptr || std::fread(header, 1, 54, f) != 54) std::abort();
            std::fclose(f);
            const std::uint64_t expected = 54 + pictrim::ImageSize(U32(header + 18), static_cast<std::uint32_t>(
                std::abs(static_cast<std::int64_t>(static_cast<std::int32_t>(U32(header + 22))))));
            if (U32(header + 2) != static_cast<std::uint64_t>(st.st_size) || expected != static_cast<std::uint64_t>(st.st_size))
                std::abort();
        }
    }
    return 0;
}
