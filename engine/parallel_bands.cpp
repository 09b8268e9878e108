#include "parallel_bands.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace pictrim {

unsigned BandCount(std::uint32_t rows, std::uint64_t bytes) {
    constexpr std::uint64_t kMinBytesPerBand = std::uint64_t{512} << 10;
    constexpr unsigned kMaxBands = 16;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto byWork = static_cast<unsigned>(std::min<std::uint64_t>(kMaxBands, bytes / kMinBytesPerBand));
    return std::max(1u, std::min({cores, byWork, rows, kMaxBands}));
}

bool RunInBands(std::uint32_t rows, unsigned bands,
                const std::function<bool(unsigned, std::uint32_t, std::uint32_t)>& work) {
    bands = std::max(1u, std::min<unsigned>(bands, std::max<std::uint32_t>(rows, 1)));
    const auto edge = [&](unsigned band) { return static_cast<std::uint32_t>(std::uint64_t{rows} * band / bands); };
    std::atomic<bool> ok{true};
    const auto run = [&](unsigned band) {
        if (!work(band, edge(band), edge(band + 1))) ok = false;
    };
    // Reserved before any thread starts: from here on nothing throws while
    // a helper runs, and every helper is joined.
    std::vector<std::thread> helpers;
    std::vector<unsigned> inlineBands;
    helpers.reserve(bands);
    inlineBands.reserve(bands);
    for (unsigned band = 1; band < bands; ++band) {
        try {
            helpers.emplace_back(run, band);
        } catch (const std::system_error&) {
            inlineBands.push_back(band);  // no thread to be had: do it here
        } catch (const std::bad_alloc&) {
            inlineBands.push_back(band);
        }
    }
    run(0);
    for (const unsigned band : inlineBands) run(band);
    for (std::thread& t : helpers) t.join();
    return ok;
}

}  // namespace pictrim
