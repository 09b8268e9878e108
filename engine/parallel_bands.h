#pragma once

#include <cstdint>
#include <functional>

namespace pictrim {

// How many bands a picture of `rows` output rows and `bytes` of work is
// worth splitting into: one per core, but never bands so thin that starting
// a thread costs more than it saves.
unsigned BandCount(std::uint32_t rows, std::uint64_t bytes);

// Runs work(band, firstRow, endRow) for `bands` consecutive slices of
// [0, rows) on the calling thread and the shared worker pool's threads.
// True when every band returned true.
bool RunInBands(std::uint32_t rows, unsigned bands,
                const std::function<bool(unsigned band, std::uint32_t firstRow, std::uint32_t endRow)>& work);

}  // namespace pictrim
