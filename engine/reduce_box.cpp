#include "reduce_box.h"

#include <algorithm>

#include "bmp_layout.h"
#include "kernel_path.h"
#include "row_kernels.h"

namespace pictrim {

namespace {

// Adds the floor averages of the runs of one source row to the column sums.
// Step is a compile-time constant so the divisions become multiplications.
template <std::uint32_t Step>
void AddRowAverages(const std::uint8_t* row, std::uint32_t dstWidth, std::uint16_t* sums) {
    for (std::uint32_t i = 0; i < dstWidth; ++i) {
        const std::uint8_t* p = row + std::size_t{3} * Step * i;
        std::uint32_t s0 = 0, s1 = 0, s2 = 0;
        for (std::uint32_t k = 0; k < Step; ++k) {
            s0 += p[3 * k];
            s1 += p[3 * k + 1];
            s2 += p[3 * k + 2];
        }
        sums[3 * i] = static_cast<std::uint16_t>(sums[3 * i] + s0 / Step);
        sums[3 * i + 1] = static_cast<std::uint16_t>(sums[3 * i + 1] + s1 / Step);
        sums[3 * i + 2] = static_cast<std::uint16_t>(sums[3 * i + 2] + s2 / Step);
    }
}

// The reference: every other path gives the same bytes.
template <std::uint32_t Step>
void ReduceRow(const std::uint8_t* rows, std::size_t stride, std::uint32_t dstWidth, std::uint16_t* sums,
               std::uint8_t* out) {
    const std::size_t channels = 3 * std::size_t{dstWidth};
    std::fill_n(sums, channels, std::uint16_t{0});
    for (std::uint32_t k = 0; k < Step; ++k) AddRowAverages<Step>(rows + k * stride, dstWidth, sums);
    for (std::size_t n = 0; n < channels; ++n) out[n] = static_cast<std::uint8_t>(sums[n] / Step);
}

ReduceRowFn RowKernel(KernelPath path, std::uint32_t step) {
    switch (path) {
    case KernelPath::Avx2: return Avx2ReduceRow(step);
    case KernelPath::Ssse3: return Ssse3ReduceRow(step);
    case KernelPath::Scalar: break;
    }
    return ScalarReduceRow(step);
}

}  // namespace

ReduceRowFn ScalarReduceRow(std::uint32_t step) {
    switch (step) {
    case 2: return &ReduceRow<2>;
    case 3: return &ReduceRow<3>;
    case 4: return &ReduceRow<4>;
    case 5: return &ReduceRow<5>;
    case 10: return &ReduceRow<10>;
    case 20: return &ReduceRow<20>;
    default: return nullptr;
    }
}

bool ReduceBox(const ReduceGeometry& g, const std::uint8_t* src, std::uint8_t* dst, std::uint16_t* workBuffer,
               std::uint32_t firstRow, std::uint32_t endRow, std::stop_token stop) {
    const ReduceRowFn row = RowKernel(ActiveKernelPath(), g.step);
    if (row == nullptr) return false;
    const std::size_t srcStride = RowStride(g.srcWidth);
    const std::size_t dstStride = RowStride(g.dstWidth);
    for (std::uint32_t j = firstRow; j < endRow; ++j) {
        if (stop.stop_requested()) return false;
        row(src + std::size_t{j} * g.step * srcStride, srcStride, g.dstWidth, workBuffer, dst + std::size_t{j} * dstStride);
    }
    return true;
}

}  // namespace pictrim
