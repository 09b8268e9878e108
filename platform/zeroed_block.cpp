#include "zeroed_block.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace pictrim::platform {

namespace {

std::atomic<std::size_t> g_allocationCeiling{0};

// Asks for 2 MiB pages on the untouched interior of a large block: filling
// a 144 MB picture page by page costs tens of thousands of 4 KiB faults.
void AdviseHugePages(void* p, std::size_t bytes) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

void SetAllocationCeilingForTesting(std::size_t bytes) { g_allocationCeiling = bytes; }

ZeroedBlock::~ZeroedBlock() { Free(); }

ZeroedBlock::ZeroedBlock(ZeroedBlock&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}

ZeroedBlock& ZeroedBlock::operator=(ZeroedBlock&& other) noexcept {
    if (this != &other) {
        Free();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

ZeroedBlock ZeroedBlock::Allocate(std::size_t bytes) {
    ZeroedBlock block;
    const std::size_t ceiling = g_allocationCeiling.load();
    if (ceiling != 0 && bytes > ceiling) return block;
    // calloc(0, 1) may return null; a zero-length block is still a success.
    void* p = std::calloc(bytes == 0 ? 1 : bytes, 1);
    if (p == nullptr) return block;
    AdviseHugePages(p, bytes);
    block.m_data = static_cast<std::uint8_t*>(p);
    block.m_size = bytes;
    return block;
}

void ZeroedBlock::Free() {
    std::free(m_data);
    m_data = nullptr;
    m_size = 0;
}

}  // namespace pictrim::platform
