#include "band_conversion.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "enlarge_double.h"
#include "parallel_bands.h"
#include "reduce_box.h"

namespace pictrim {

BandBuffers BandBuffers::Allocate(const BandPlan& plan) {
    BandBuffers b;
    b.threads = BandCount(plan.bandRows, plan.SourceBandBytes() + plan.OutBandBytes());
    b.sourceBuffer = platform::ZeroedBlock::Allocate(plan.SourceBandBytes());
    b.outBuffer[0] = platform::ZeroedBlock::Allocate(plan.OutBandBytes());
    b.severalBands = plan.bandRows < plan.dstHeight;
    if (b.severalBands) b.outBuffer[1] = platform::ZeroedBlock::Allocate(plan.OutBandBytes());
    const std::size_t sums = plan.enlarge ? 0 : b.threads * ReduceWorkElements(plan.Geometry());
    b.workBuffer = platform::ZeroedBlock::Allocate(sums * sizeof(std::uint32_t));
    return b;
}

namespace {

// Writes one band on a thread of its own, so that copying it into the file
// overlaps the computing of the next; written here when no thread is to be had.
class BandWriter {
public:
    explicit BandWriter(platform::ReplacementFile& destination) : m_destination(destination) {}
    ~BandWriter() { Finish(); }

    void Start(const std::uint8_t* data, std::size_t bytes, bool last) {
        if (!last) {  // the last band has nothing left to overlap with
            try {
                m_pending = std::async(std::launch::async, [this, data, bytes] { return m_destination.Write(data, bytes); });
                return;
            } catch (const std::system_error&) {
            }
        }
        if (!m_destination.Write(data, bytes)) m_failed = true;
    }
    // True when every band written so far went through.
    bool Finish() {
        if (m_pending.valid() && !m_pending.get()) m_failed = true;
        return !m_failed;
    }

private:
    platform::ReplacementFile& m_destination;
    std::future<bool> m_pending;
    bool m_failed = false;
};

}  // namespace

BandResult ConvertInBands(const BandPlan& plan, BandBuffers& buffers, platform::SourceFile& source,
                          std::uint64_t pixelOffset, platform::ReplacementFile& destination, std::stop_token stop) {
    const std::size_t srcStride = plan.SourceStride();
    const ReduceGeometry geometry = plan.Geometry();
    auto* sums = reinterpret_cast<std::uint32_t*>(buffers.workBuffer.data());
    const std::uint8_t* src = buffers.sourceBuffer.data();
    BandWriter writer(destination);

    for (std::uint32_t first = 0, band = 0; first < plan.dstHeight; first += plan.bandRows, ++band) {
        const std::uint32_t end = std::min(plan.dstHeight, first + plan.bandRows);
        const auto [srcFirst, srcEnd] = plan.SourceRows(first, end);
        const std::size_t bytes = (srcEnd - srcFirst) * srcStride;
        const auto read = source.ReadAt(buffers.sourceBuffer.data(), bytes, pixelOffset + srcFirst * std::uint64_t{srcStride});
        if (!read || *read != bytes) return BandResult::ReadFailed;

        // Within the band, rows count from the band's first row; an enlarged
        // band starts on an even row, so its source starts on a whole row.
        std::uint8_t* out = buffers.outBuffer[band % 2].data();
        const std::uint32_t rows = end - first;
        const std::uint32_t srcRowsLeft = plan.srcHeight - srcFirst;
        const bool converted = RunInBands(rows, buffers.threads, [&](unsigned t, std::uint32_t a, std::uint32_t b) {
            return plan.enlarge ? EnlargeDouble(src, plan.srcWidth, srcRowsLeft, out, a, b, stop)
                                : ReduceBox(geometry, src, out, sums + t * ReduceWorkElements(geometry), a, b, stop);
        });
        // The band before this one is written from the other buffer; it has
        // to be done before that buffer is filled again.
        if (!writer.Finish()) return BandResult::WriteFailed;
        if (!converted) return BandResult::Stopped;
        writer.Start(out, rows * plan.DestinationStride(), end == plan.dstHeight);
    }
    return writer.Finish() ? BandResult::Completed : BandResult::WriteFailed;
}

}  // namespace pictrim
