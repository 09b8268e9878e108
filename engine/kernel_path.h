#pragma once

#include <optional>

namespace pictrim {

// The instruction sets the resize kernels are built for. The scalar kernels
// are the reference; the vector ones give the same bytes, bit for bit.
// Ordered: a processor that runs one runs those before it.
enum class KernelPath { Scalar, Ssse3, Avx2 };

// The fastest path this processor and system run, found once.
KernelPath BestKernelPath();
// The path the kernels take: the best, unless a test or benchmark chose one.
KernelPath ActiveKernelPath();
// Test and benchmark seam: the kernels take `path` (at most BestKernelPath())
// from now on; std::nullopt goes back to the best.
void UseKernelPathForTesting(std::optional<KernelPath> path);
const char* KernelPathName(KernelPath path);

}  // namespace pictrim
