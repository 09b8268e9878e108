#include "enlarge_double.h"

#include <cstddef>

#include "bmp_layout.h"
#include "kernel_path.h"
#include "row_kernels.h"

namespace pictrim {

namespace {

// The reference rows; every other path gives the same bytes.
// An even result row: source pixels with the averages of neighbours between.
void EvenRow(const std::uint8_t* __restrict s, std::uint32_t width, std::uint8_t* __restrict out) {
    for (std::uint32_t x = 0; x + 1 < width; ++x) {
        const std::uint8_t* p = s + 3 * std::size_t{x};
        std::uint8_t* o = out + 6 * std::size_t{x};
        for (int c = 0; c < 3; ++c) {
            o[c] = p[c];
            o[3 + c] = static_cast<std::uint8_t>((unsigned{p[c]} + p[3 + c]) >> 1);
        }
    }
    const std::uint8_t* last = s + 3 * std::size_t{width - 1};
    std::uint8_t* o = out + 6 * std::size_t{width - 1};
    for (int c = 0; c < 3; ++c) o[c] = o[3 + c] = last[c];
}

// An odd result row between source rows a and b.
void OddRow(const std::uint8_t* __restrict a, const std::uint8_t* __restrict b, std::uint32_t width,
            std::uint8_t* __restrict out) {
    for (std::uint32_t x = 0; x + 1 < width; ++x) {
        const std::uint8_t* p = a + 3 * std::size_t{x};
        const std::uint8_t* q = b + 3 * std::size_t{x};
        std::uint8_t* o = out + 6 * std::size_t{x};
        for (int c = 0; c < 3; ++c) {
            o[c] = static_cast<std::uint8_t>((unsigned{p[c]} + q[c]) >> 1);
            o[3 + c] = static_cast<std::uint8_t>((unsigned{p[c]} + q[c] + p[3 + c] + q[3 + c]) >> 2);
        }
    }
    const std::size_t at = 3 * std::size_t{width - 1};
    std::uint8_t* o = out + 2 * at;
    for (std::size_t c = 0; c < 3; ++c) o[c] = o[3 + c] = static_cast<std::uint8_t>((unsigned{a[at + c]} + b[at + c]) >> 1);
}

EnlargeRowFns RowKernels(KernelPath path) {
    switch (path) {
    case KernelPath::Avx2: return Avx2EnlargeRows();
    case KernelPath::Ssse3: return Ssse3EnlargeRows();
    case KernelPath::Scalar: break;
    }
    return ScalarEnlargeRows();
}

}  // namespace

EnlargeRowFns ScalarEnlargeRows() { return {&EvenRow, &OddRow}; }

bool EnlargeDouble(const std::uint8_t* src, std::uint32_t width, std::uint32_t height, std::uint8_t* dst,
                   std::uint32_t firstRow, std::uint32_t endRow, std::stop_token stop) {
    const std::size_t srcStride = RowStride(width);
    const std::size_t dstStride = RowStride(2 * std::uint64_t{width});
    const EnlargeRowFns rows = RowKernels(ActiveKernelPath());
    for (std::uint32_t row = firstRow; row < endRow; ++row) {
        if (stop.stop_requested()) return false;
        const std::uint32_t y = row / 2;
        const std::uint8_t* a = src + y * srcStride;
        std::uint8_t* out = dst + row * dstStride;
        if (row % 2 == 0 || y + 1 == height) {
            rows.even(a, width, out);  // the last row repeats the one before it
        } else {
            rows.odd(a, a + srcStride, width, out);
        }
    }
    return true;
}

}  // namespace pictrim
