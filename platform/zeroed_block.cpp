#include "zeroed_block.h"

#include <atomic>
#include <cstdlib>
#include <utility>

namespace pictrim::platform {

namespace {
std::atomic<std::size_t> g_allocationCeiling{0};
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

ZeroedBlock ZeroedBlock::Allocate(std::size_t bytes, bool zeroed) {
    ZeroedBlock block;
    const std::size_t ceiling = g_allocationCeiling.load();
    if (ceiling != 0 && bytes > ceiling) return block;
    // calloc(0, 1) may return null; a zero-length block is still a success.
    void* p = zeroed ? std::calloc(bytes == 0 ? 1 : bytes, 1) : std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) return block;
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
