#include "reduce_box.h"

#include <algorithm>

#include "bmp_layout.h"

namespace pictrim {

namespace {

// Adds the floor averages of the runs of one source row to the column sums.
// Step is a compile-time constant so the divisions become multiplications.
template <std::uint32_t Step>
void AddRowAverages(const std::uint8_t* row, std::uint32_t dstWidth, std::uint32_t* sums) {
    for (std::uint32_t i = 0; i < dstWidth; ++i) {
        const std::uint8_t* p = row + std::size_t{3} * Step * i;
        std::uint32_t s0 = 0, s1 = 0, s2 = 0;
        for (std::uint32_t k = 0; k < Step; ++k) {
            s0 += p[3 * k];
            s1 += p[3 * k + 1];
            s2 += p[3 * k + 2];
        }
        sums[3 * i] += s0 / Step;
        sums[3 * i + 1] += s1 / Step;
        sums[3 * i + 2] += s2 / Step;
    }
}

template <std::uint32_t Step>
bool ReduceRows(const ReduceGeometry& g, const std::uint8_t* src, std::uint8_t* dst, std::uint32_t* sums,
                std::uint32_t firstRow, std::uint32_t endRow, const std::stop_token& stop) {
    const std::size_t srcStride = RowStride(g.srcWidth);
    const std::size_t dstStride = RowStride(g.dstWidth);
    const std::size_t channels = 3 * std::size_t{g.dstWidth};
    for (std::uint32_t j = firstRow; j < endRow; ++j) {
        if (stop.stop_requested()) return false;
        std::fill_n(sums, channels, 0u);
        const std::uint8_t* rows = src + std::size_t{j} * Step * srcStride;
        for (std::uint32_t k = 0; k < Step; ++k) AddRowAverages<Step>(rows + k * srcStride, g.dstWidth, sums);
        std::uint8_t* out = dst + std::size_t{j} * dstStride;
        for (std::size_t n = 0; n < channels; ++n) out[n] = static_cast<std::uint8_t>(sums[n] / Step);
    }
    return true;
}

}  // namespace

bool ReduceBox(const ReduceGeometry& g, const std::uint8_t* src, std::uint8_t* dst, std::uint32_t* workBuffer,
               std::uint32_t firstRow, std::uint32_t endRow, std::stop_token stop) {
    switch (g.step) {
    case 2: return ReduceRows<2>(g, src, dst, workBuffer, firstRow, endRow, stop);
    case 3: return ReduceRows<3>(g, src, dst, workBuffer, firstRow, endRow, stop);
    case 4: return ReduceRows<4>(g, src, dst, workBuffer, firstRow, endRow, stop);
    case 5: return ReduceRows<5>(g, src, dst, workBuffer, firstRow, endRow, stop);
    case 10: return ReduceRows<10>(g, src, dst, workBuffer, firstRow, endRow, stop);
    case 20: return ReduceRows<20>(g, src, dst, workBuffer, firstRow, endRow, stop);
    default: return false;
    }
}

}  // namespace pictrim
