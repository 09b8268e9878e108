#pragma once

// Declarations only: this header is also built into the vector kernels,
// for their own instruction sets, where no inline code may come from.
#include <cstddef>
#include <cstdint>

namespace pictrim {

// One destination row of each kernel, as every path implements it.
// Reduction: the `step` source rows from `rows` (stride `stride`) into
// `dstWidth` pixels at `out`, with `sums` (ReduceWorkElements) to work in.
using ReduceRowFn = void (*)(const std::uint8_t* rows, std::size_t stride, std::uint32_t dstWidth,
                             std::uint16_t* sums, std::uint8_t* out);
// Enlargement: an even result row from source row a, or the odd one
// between rows a and b; 2 * width pixels at `out`.
struct EnlargeRowFns {
    void (*even)(const std::uint8_t* a, std::uint32_t width, std::uint8_t* out);
    void (*odd)(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t width, std::uint8_t* out);
};

// The row kernels of each path; a step a path has no kernel for gives nullptr.
ReduceRowFn ScalarReduceRow(std::uint32_t step);
ReduceRowFn Ssse3ReduceRow(std::uint32_t step);
ReduceRowFn Avx2ReduceRow(std::uint32_t step);
EnlargeRowFns ScalarEnlargeRows();
EnlargeRowFns Ssse3EnlargeRows();
EnlargeRowFns Avx2EnlargeRows();

}  // namespace pictrim
