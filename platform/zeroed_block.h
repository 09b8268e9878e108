#pragma once

#include <cstddef>
#include <cstdint>

namespace pictrim::platform {

// A zero-filled heap block, freed when the object goes. calloc hands back
// fresh pages for large blocks, so the zeros cost nothing until touched;
// but a block the heap reuses is cleared byte by byte, so one whose every
// byte is written before it is read can be asked for unfilled.
class ZeroedBlock {
public:
    ZeroedBlock() = default;
    ~ZeroedBlock();
    ZeroedBlock(ZeroedBlock&& other) noexcept;
    ZeroedBlock& operator=(ZeroedBlock&& other) noexcept;
    ZeroedBlock(const ZeroedBlock&) = delete;
    ZeroedBlock& operator=(const ZeroedBlock&) = delete;

    // An empty block (operator bool false) when memory cannot be had.
    static ZeroedBlock Allocate(std::size_t bytes, bool zeroed = true);

    explicit operator bool() const { return m_data != nullptr; }
    std::uint8_t* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    void Free();

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
};

// Test seam: allocations larger than this fail as if memory were short.
// Zero removes the ceiling.
void SetAllocationCeilingForTesting(std::size_t bytes);

}  // namespace pictrim::platform
