#include "parallel_bands.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "worker_pool.h"

namespace pictrim {

namespace {

// Asked once: the answer comes from a file in /sys, and this is asked for
// every band of every file.
unsigned Cores() {
    static const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return cores;
}

// Threads of every job in the process that are converting right now, so
// that jobs running side by side share the cores instead of each starting
// a thread per core.
std::atomic<unsigned> g_threadsAtWork{0};

// Counts the calling thread in and takes as many helpers, up to `wanted`,
// as there are cores left over; GiveBack returns both.
unsigned TakeHelpers(unsigned wanted) {
    unsigned busy = g_threadsAtWork.load();
    unsigned take = 0;
    const unsigned cores = Cores();
    do {
        const unsigned spare = cores > busy + 1 ? cores - busy - 1 : 0;
        take = std::min(wanted, spare);
    } while (!g_threadsAtWork.compare_exchange_weak(busy, busy + 1 + take));
    return take;
}

struct GiveBack {
    unsigned helpers;
    ~GiveBack() { g_threadsAtWork -= 1 + helpers; }
};

}  // namespace

unsigned BandCount(std::uint32_t rows, std::uint64_t bytes) {
    constexpr std::uint64_t kMinBytesPerBand = std::uint64_t{512} << 10;
    constexpr unsigned kMaxBands = 16;
    const unsigned cores = Cores();
    const auto byWork = static_cast<unsigned>(std::min<std::uint64_t>(kMaxBands, bytes / kMinBytesPerBand));
    return std::max(1u, std::min({cores, byWork, rows, kMaxBands}));
}

bool RunInBands(std::uint32_t rows, unsigned bands,
                const std::function<bool(unsigned, std::uint32_t, std::uint32_t)>& work) {
    bands = std::max(1u, std::min<unsigned>(bands, std::max<std::uint32_t>(rows, 1)));
    const GiveBack taken{TakeHelpers(bands - 1)};
    bands = 1 + taken.helpers;
    const auto edge = [&](unsigned band) { return static_cast<std::uint32_t>(std::uint64_t{rows} * band / bands); };
    std::atomic<bool> ok{true};
    WorkerPool::Shared().Run(bands, [&](unsigned band) {
        if (!work(band, edge(band), edge(band + 1))) ok = false;
    });
    return ok;
}

}  // namespace pictrim
