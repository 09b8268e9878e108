#include "kernel_path.h"
#include "row_kernels.h"

#include <atomic>

namespace pictrim {

namespace {

KernelPath Detect() {
#ifdef PICTRIM_X86_KERNELS
    // The compiler's run-time library asks the processor (cpuid) and, for
    // AVX2, whether the system saves the wide registers (xgetbv).
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return KernelPath::Avx2;
    if (__builtin_cpu_supports("ssse3")) return KernelPath::Ssse3;
#endif
    return KernelPath::Scalar;
}

constexpr int kBest = -1;
std::atomic<int> g_chosen{kBest};

}  // namespace

KernelPath BestKernelPath() {
    static const KernelPath best = Detect();
    return best;
}

KernelPath ActiveKernelPath() {
    const int chosen = g_chosen.load(std::memory_order_relaxed);
    return chosen == kBest ? BestKernelPath() : static_cast<KernelPath>(chosen);
}

void UseKernelPathForTesting(std::optional<KernelPath> path) {
    g_chosen = path && *path <= BestKernelPath() ? static_cast<int>(*path) : kBest;
}

const char* KernelPathName(KernelPath path) {
    switch (path) {
    case KernelPath::Avx2: return "avx2";
    case KernelPath::Ssse3: return "ssse3";
    case KernelPath::Scalar: break;
    }
    return "scalar";
}

#ifndef PICTRIM_X86_KERNELS
ReduceRowFn Ssse3ReduceRow(std::uint32_t) { return nullptr; }
ReduceRowFn Avx2ReduceRow(std::uint32_t) { return nullptr; }
EnlargeRowFns Ssse3EnlargeRows() { return {}; }
EnlargeRowFns Avx2EnlargeRows() { return {}; }
#endif

}  // namespace pictrim
