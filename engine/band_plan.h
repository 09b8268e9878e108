#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "reduce_box.h"

namespace pictrim {

// How a conversion walks the picture: a band of destination rows at a time,
// reading just the source rows that band needs into one reused buffer and
// writing the band out before the next. Memory stays a few MiB whatever the
// picture's size, and the buffers stay warm in the cache.
struct BandPlan {
    bool enlarge = false;
    std::uint32_t step = 0;  // reduction step; unused when enlarging
    std::uint32_t srcWidth = 0, srcHeight = 0;
    std::uint32_t dstWidth = 0, dstHeight = 0;
    std::uint32_t bandRows = 0;  // destination rows per band; even when enlarging
    // Destination columns worked at a time: dstWidth, unless a row is too
    // wide for the band budget. Then a band is one row, done in tiles of
    // this many columns (a multiple of 4, so a tile has no pad bytes).
    std::uint32_t tileColumns = 0;

    static BandPlan Make(bool enlarge, std::uint32_t step, std::uint32_t srcWidth, std::uint32_t srcHeight,
                         std::uint32_t dstWidth, std::uint32_t dstHeight);

    ReduceGeometry Geometry() const { return {step, srcWidth, srcHeight, dstWidth, dstHeight}; }
    std::size_t SourceStride() const;
    std::size_t DestinationStride() const;

    // Source rows [first, end) that destination rows [firstRow, endRow) are
    // made from. An enlarged odd row also needs the source row below it.
    std::pair<std::uint32_t, std::uint32_t> SourceRows(std::uint32_t firstRow, std::uint32_t endRow) const;

    bool Tiled() const { return tileColumns < dstWidth; }
    // Source columns one tile is made from (a tile of an enlargement needs
    // the column right of its last one).
    std::uint32_t TileSourceColumns() const;

    std::size_t SourceBandBytes() const;
    std::size_t OutBandBytes() const;
};

}  // namespace pictrim
