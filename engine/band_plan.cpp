#include "band_plan.h"

#include <algorithm>

#include "bmp_layout.h"

namespace pictrim {

namespace {
// Large enough that the per-band costs vanish, small enough to stay in the
// cache between the read and the kernel.
constexpr std::size_t kTargetBandBytes = std::size_t{4} << 20;
}  // namespace

BandPlan BandPlan::Make(bool enlarge, std::uint32_t step, std::uint32_t srcWidth, std::uint32_t srcHeight,
                        std::uint32_t dstWidth, std::uint32_t dstHeight) {
    BandPlan plan{enlarge, step, srcWidth, srcHeight, dstWidth, dstHeight, 0, dstWidth};
    const std::size_t wholeRowsBytes = enlarge ? 2 * (plan.SourceStride() + plan.DestinationStride())
                                               : step * plan.SourceStride() + plan.DestinationStride();
    if (wholeRowsBytes > kTargetBandBytes) {
        // Even the fewest whole rows are over budget: tiles of columns keep
        // memory bounded for pictures millions of pixels wide.
        const std::size_t bytesPerColumn = enlarge ? 2 * 3 + 2 * 6 : 3 * std::size_t{step} * step + 3;
        const std::size_t columns = std::max<std::size_t>(4, kTargetBandBytes / bytesPerColumn) & ~std::size_t{3};
        plan.tileColumns = static_cast<std::uint32_t>(std::min<std::size_t>(columns, dstWidth));
        plan.bandRows = 1;
        return plan;
    }
    if (enlarge) {
        // Sized by the output, four times the input. Even, as dstHeight is,
        // so that every band starts on a whole source row.
        const std::size_t rows = std::max<std::size_t>(2, kTargetBandBytes / plan.DestinationStride());
        plan.bandRows = static_cast<std::uint32_t>(std::min<std::size_t>(rows & ~std::size_t{1}, dstHeight));
    } else {
        const std::size_t rows = std::max<std::size_t>(1, kTargetBandBytes / (plan.SourceStride() * step));
        plan.bandRows = static_cast<std::uint32_t>(std::min<std::size_t>(rows, dstHeight));
    }
    return plan;
}

std::size_t BandPlan::SourceStride() const { return static_cast<std::size_t>(RowStride(srcWidth)); }
std::size_t BandPlan::DestinationStride() const { return static_cast<std::size_t>(RowStride(dstWidth)); }

std::pair<std::uint32_t, std::uint32_t> BandPlan::SourceRows(std::uint32_t firstRow, std::uint32_t endRow) const {
    if (!enlarge) return {firstRow * step, endRow * step};
    const std::uint32_t last = (endRow - 1) / 2;
    return {firstRow / 2, std::min(srcHeight, last + 2)};
}

std::uint32_t BandPlan::TileSourceColumns() const {
    return enlarge ? std::min(srcWidth, tileColumns / 2 + 1) : tileColumns * step;
}

std::size_t BandPlan::SourceBandBytes() const {
    if (Tiled()) return (enlarge ? 2 : step) * static_cast<std::size_t>(RowStride(TileSourceColumns()));
    const auto rows = SourceRows(0, bandRows);
    return (rows.second - rows.first) * SourceStride();
}

std::size_t BandPlan::OutBandBytes() const {
    if (Tiled()) return enlarge ? 2 * static_cast<std::size_t>(RowStride(2 * TileSourceColumns())) : 3 * std::size_t{tileColumns};
    return std::size_t{bandRows} * DestinationStride();
}

}  // namespace pictrim
