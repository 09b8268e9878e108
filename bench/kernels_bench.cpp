// Throughput of the resize kernels on an 8000 x 6000 picture (4000 x 3000
// for the enlargement), in source bytes per second.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/bmp_layout.h"
#include "engine/enlarge_double.h"
#include "engine/ratio.h"
#include "engine/reduce_box.h"

namespace {

std::vector<std::uint8_t> Noise(std::size_t bytes) {
    std::vector<std::uint8_t> v(bytes);
    std::mt19937 rng(1);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

void BM_ReduceBox(benchmark::State& state) {
    const auto step = static_cast<std::uint32_t>(state.range(0));
    const std::uint32_t w = 8000, h = 6000;
    const auto src = Noise(pictrim::ImageSize(w, h));
    const pictrim::ReduceGeometry g{step, w, h, w / step, h / step};
    std::vector<std::uint8_t> dst(pictrim::ImageSize(g.dstWidth, g.dstHeight));
    std::vector<std::uint32_t> work(pictrim::ReduceWorkElements(g));
    for (auto _ : state) {
        pictrim::ReduceBox(g, src.data(), dst.data(), work.data(), 0, g.dstHeight, {});
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}
BENCHMARK(BM_ReduceBox)->Arg(2)->Arg(3)->Arg(4)->Arg(5)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

void BM_EnlargeDouble(benchmark::State& state) {
    const std::uint32_t w = 4000, h = 3000;
    const auto src = Noise(pictrim::ImageSize(w, h));
    std::vector<std::uint8_t> dst(pictrim::ImageSize(2 * w, 2 * h));
    for (auto _ : state) {
        pictrim::EnlargeDouble(src.data(), w, h, dst.data(), 0, 2 * h, {});
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * src.size()));
}
BENCHMARK(BM_EnlargeDouble)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
