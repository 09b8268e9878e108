#pragma once

#include <cstdint>
#include <stop_token>

namespace pictrim {

// Doubles a W x H image of bare pixel rows (stride RowStride(W)) into
// destination rows [firstRow, endRow) of the 2W x 2H image (stride
// RowStride(2W)). Returns false when asked to stop. W and H may be 1.
//
// For one channel, with S the source and P the result:
//   P(2x, 2y)         = S(x, y)
//   P(2x+1, 2y)       = (S(x, y) + S(x+1, y)) >> 1
//   P(2x, 2y+1)       = (S(x, y) + S(x, y+1)) >> 1
//   P(2x+1, 2y+1)     = (S(x, y) + S(x+1, y) + S(x, y+1) + S(x+1, y+1)) >> 2
// Every average rounds down. Column 2W-1 repeats column 2W-2 and row 2H-1
// repeats row 2H-2: there is no source pixel beyond them.
bool EnlargeDouble(const std::uint8_t* src, std::uint32_t width, std::uint32_t height, std::uint8_t* dst,
                   std::uint32_t firstRow, std::uint32_t endRow, std::stop_token stop);

}  // namespace pictrim
