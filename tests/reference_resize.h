#pragma once

#include "bmp_fixture.h"

// The resize rules written out plainly, pass by pass, for comparison with
// the engine's kernels.
namespace pictrim::test {

// Pass 1 averages runs of `step` pixels along every row (rounding down), pass
// 2 averages runs of `step` of those down every column (rounding down).
Picture ReferenceReduce(const Picture& src, std::uint32_t step);

// The enlargement's passes in their order: copy, even rows, even columns,
// the four-neighbour diagonal, last row, last column, corner.
Picture ReferenceEnlarge(const Picture& src);

}  // namespace pictrim::test
