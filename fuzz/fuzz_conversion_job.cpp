// libFuzzer target: arbitrary bytes as the source file, through the whole
// conversion job at every ratio. Whatever the bytes, the job ends idle with
// one notice, touches no memory it does not own, and leaves either nothing or
// a complete destination, exactly as long as its header says.
#include <unistd.h>

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

// In memory-backed storage: flushing to a disk would slow every run a
// thousandfold and find nothing more.
const fs::path kDir = [] {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + std::string("/pictrim-fuzz-XXXXXX");
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return fs::path(pattern);
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const fs::path src = kDir / "src.bmp", dst = kDir / "dst.bmp";
    std::ofstream(src, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    for (int index = 0; index < static_cast<int>(pictrim::RatioList.size()); ++index) {
        fs::remove(dst);
        CountingNotices notices;
        pictrim::CExecThread job({&notices, src, dst, nullptr, pictrim::RatioList[index].percent, index});
        job.ConversionJob();
        std::ifstream out(dst, std::ios::binary);
        if (notices.shown != 1 || job.m_bBusy != 0 || out.is_open() != notices.completed) std::abort();
        unsigned char h[6] = {};
        if (out.is_open() && !out.read(reinterpret_cast<char*>(h), 6)) std::abort();
        const std::uintmax_t declared = h[2] | (h[3] << 8) | (h[4] << 16) | (std::uintmax_t{h[5]} << 24);
        if (out.is_open() && declared != fs::file_size(dst)) std::abort();
    }
    return 0;
}
