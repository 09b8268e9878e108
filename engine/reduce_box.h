#pragma once

#include <cstddef>
#include <cstdint>
#include <stop_token>

namespace pictrim {

struct ReduceGeometry {
    std::uint32_t step;  // from StepTable
    std::uint32_t srcWidth, srcHeight;
    std::uint32_t dstWidth, dstHeight;  // source size / step, rounded down, both at least 1
};

// WorkBuffer elements one band of ReduceBox needs: a row of channel sums
// (four to a pixel, for the vector kernels).
inline std::size_t ReduceWorkElements(std::uint32_t dstWidth) { return 4 * std::size_t{dstWidth}; }

// Box reduction of bare pixel rows (strides RowStride of each width) into
// destination rows [firstRow, endRow). Returns false when asked to stop.
//
// Every run of `step` pixels along a row is averaged first, then every run of
// `step` of those row averages down a column; both averages round down, so a
// result is the floor of the mean of `step` floors, not always the floor of
// the block's mean. Trailing columns and rows that do not fill a run take no
// part. The pad bytes of destination rows are left as they are (zero).
bool ReduceBox(const ReduceGeometry& g, const std::uint8_t* src, std::uint8_t* dst, std::uint16_t* workBuffer,
               std::uint32_t firstRow, std::uint32_t endRow, std::stop_token stop);

}  // namespace pictrim
