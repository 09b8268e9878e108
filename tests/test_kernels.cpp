#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "engine/bmp_layout.h"
#include "engine/enlarge_double.h"
#include "engine/kernel_path.h"
#include "engine/reduce_box.h"
#include "engine/worker_pool.h"

namespace pictrim {
namespace {

// Every vector path gives the scalar reference's bytes, bit for bit, at
// every step: widths 1 to 300 (every row padding of source and result) and
// wide rows, columns and rows left over, bytes near 0 and 255 that carry.
TEST(Kernels, EveryVectorPathGivesTheScalarBytes) {
    std::vector<std::uint32_t> widths = {1021, 4099};
    for (std::uint32_t w = 1; w <= 300; ++w) widths.push_back(w);
    std::mt19937 rng(7);
    constexpr std::uint8_t kEdges[4] = {0, 1, 254, 255};
    for (const std::uint32_t step : {0u, 2u, 3u, 4u, 5u, 10u, 20u}) {  // 0: the enlargement
        for (const std::uint32_t w : widths) {
            const std::uint32_t srcW = step ? w * step + w % step : w, srcH = step ? 2 * step + 1 : 3;
            std::vector<std::uint8_t> src(ImageSize(srcW, srcH));
            for (auto& b : src) {
                const auto r = static_cast<std::uint32_t>(rng());
                b = r % 8 < 4 ? kEdges[r % 8] : static_cast<std::uint8_t>(r >> 8);
            }
            auto run = [&](KernelPath path) {
                UseKernelPathForTesting(path);
                std::vector<std::uint8_t> dst(step ? ImageSize(w, 2) : ImageSize(2 * w, 2 * srcH));
                std::vector<std::uint16_t> work(ReduceWorkElements(w));
                if (step) ReduceBox({step, srcW, srcH, w, 2}, src.data(), dst.data(), work.data(), 0, 2, {});
                else EnlargeDouble(src.data(), w, srcH, dst.data(), 0, 2 * srcH, {});
                return dst;
            };
            const std::vector<std::uint8_t> expected = run(KernelPath::Scalar);
            for (const KernelPath path : {KernelPath::Ssse3, KernelPath::Avx2}) {
                if (path > BestKernelPath()) continue;  // not on this processor
                EXPECT_EQ(run(path), expected) << KernelPathName(path) << " step " << step << " width " << w;
            }
        }
    }
    UseKernelPathForTesting(std::nullopt);
}

// Jobs side by side share the pool: each Run returns only after every one of
// its own tasks has run, each once, whoever ran it; a pool with no threads
// leaves it all to the callers.
TEST(WorkerPool, EveryTaskOfEveryCallerRunsOnceBeforeItsRunReturns) {
    for (const unsigned threads : {0u, 1u, 3u}) {
        WorkerPool pool(threads);
        std::vector<std::thread> callers;
        std::atomic<int> wrong{0};
        for (unsigned caller = 0; caller < 4; ++caller)
            callers.emplace_back([&, caller] {
                for (unsigned round = 0; round < 200; ++round) {
                    const unsigned count = 1 + (caller + round) % 9;
                    std::vector<std::atomic<int>> runs(count);
                    pool.Run(count, [&](unsigned i) { ++runs[i]; });
                    for (const auto& r : runs) wrong += r != 1;
                }
            });
        for (std::thread& t : callers) t.join();
        EXPECT_EQ(wrong, 0) << threads << " threads";
    }
}

}  // namespace
}  // namespace pictrim
