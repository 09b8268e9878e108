// Throughput of the resize kernels on every path this processor runs, side
// by side, against memcpy of as many bytes as the larger of each kernel's
// input and output. An 8000 x 6000 picture is reduced at every step and a
// 4000 x 3000 one enlarged; each figure is the median of RUNS timings, the
// paths taken in turn so that a busy machine slows them alike.
//
//   pictrim_kernels_bench [RUNS]
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "engine/bmp_layout.h"
#include "engine/enlarge_double.h"
#include "engine/kernel_path.h"
#include "engine/reduce_box.h"

namespace {

using pictrim::KernelPath;

std::vector<std::uint8_t> Noise(std::size_t bytes) {
    std::vector<std::uint8_t> v(bytes);
    std::mt19937 rng(1);
    for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
        const std::uint32_t r = rng();
        std::memcpy(v.data() + i, &r, 4);
    }
    return v;
}

// Processor time where the C library counts it (not on Windows, whose
// clock() is the wall clock), so that other programs on a busy machine
// count less.
double Seconds(const std::function<void()>& run) {
    const std::clock_t start = std::clock();
    run();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Case {
    std::string name;
    std::size_t in, out;  // bytes
    std::function<void()> run;
};

void Measure(const Case& c, int runs, const std::vector<KernelPath>& paths) {
    const std::size_t larger = std::max(c.in, c.out);
    std::vector<std::uint8_t> from(larger, 1), to(larger);
    std::vector<std::vector<double>> times(paths.size());
    std::vector<double> copies;
    for (int r = 0; r < runs; ++r) {
        for (std::size_t p = 0; p < paths.size(); ++p) {
            pictrim::UseKernelPathForTesting(paths[p]);
            times[p].push_back(Seconds(c.run));
        }
        copies.push_back(Seconds([&] { std::memcpy(to.data(), from.data(), larger); }));
    }
    pictrim::UseKernelPathForTesting(std::nullopt);
    const double copy = Median(copies), scalar = Median(times[0]);
    std::printf("%-16s memcpy %7.1f ms %6.2f GB/s of %zu MB\n", c.name.c_str(), copy * 1e3, larger / copy / 1e9,
                larger >> 20);
    for (std::size_t p = 0; p < paths.size(); ++p) {
        const double t = Median(times[p]);
        std::printf("%-16s %-6s %7.1f ms %6.2f GB/s in %6.2f GB/s out  %5.2fx scalar  %5.2fx memcpy's time\n",
                    c.name.c_str(), pictrim::KernelPathName(paths[p]), t * 1e3, c.in / t / 1e9, c.out / t / 1e9,
                    scalar / t, t / copy);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    std::vector<KernelPath> paths;
    for (const KernelPath p : {KernelPath::Scalar, KernelPath::Ssse3, KernelPath::Avx2})
        if (p <= pictrim::BestKernelPath()) paths.push_back(p);
    std::printf("kernel path taken: %s (median of %d runs)\n", pictrim::KernelPathName(pictrim::ActiveKernelPath()),
                runs);

    const std::uint32_t w = 8000, h = 6000;
    const auto src = Noise(pictrim::ImageSize(w, h));
    for (const std::uint32_t step : {2u, 3u, 4u, 5u, 10u, 20u}) {
        const pictrim::ReduceGeometry g{step, w, h, w / step, h / step};
        std::vector<std::uint8_t> dst(pictrim::ImageSize(g.dstWidth, g.dstHeight));
        std::vector<std::uint16_t> work(pictrim::ReduceWorkElements(g.dstWidth));
        Measure({"ReduceBox/" + std::to_string(step), src.size(), dst.size(),
                 [&] { pictrim::ReduceBox(g, src.data(), dst.data(), work.data(), 0, g.dstHeight, {}); }},
                runs, paths);
    }
    const std::uint32_t ew = w / 2, eh = h / 2;
    std::vector<std::uint8_t> big(pictrim::ImageSize(2 * ew, 2 * eh));
    Measure({"EnlargeDouble", pictrim::ImageSize(ew, eh), big.size(),
             [&] { pictrim::EnlargeDouble(src.data(), ew, eh, big.data(), 0, 2 * eh, {}); }},
            runs, paths);
    return 0;
}
