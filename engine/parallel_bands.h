#pragma once

#include <cstdint>
#include <functional>

namespace pictrim {

// How many bands a picture of `rows` output rows and `bytes` of work is
// worth splitting into: one per core, but never bands so thin that starting
// a thread costs more than it saves.
unsigned BandCount(std::uint32_t rows, std::uint64_t bytes);

// Runs work(band, firstRow, endRow) for `bands` consecutive slices of
// [0, rows), band 0 on the calling thread and the others on threads of their
// own; a band whose thread cannot be started runs on the calling thread.
// True when every band returned true.
bool RunInBands(std::uint32_t rows, unsigned bands,
                const std::function<bool(unsigned band, std::uint32_t firstRow, std::uint32_t endRow)>& work);

}  // namespace pictrim
