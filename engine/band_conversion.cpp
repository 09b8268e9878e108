#include "band_conversion.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "bmp_layout.h"
#include "enlarge_double.h"
#include "parallel_bands.h"
#include "reduce_box.h"

namespace pictrim {

// Nothing is cleared but the pad bytes at the end of the destination rows,
// which the kernels leave as they are: every other byte is written before
// it is read. In a batch the heap hands back the last file's blocks, and
// clearing them would cost as much as the conversion of a small file.
BandBuffers BandBuffers::Allocate(const BandPlan& plan) {
    BandBuffers b;
    b.threads = BandCount(plan.bandRows, plan.SourceBandBytes() + plan.OutBandBytes());
    b.sourceBuffer = platform::ZeroedBlock::Allocate(plan.SourceBandBytes(), false);
    b.severalBands = plan.bandRows < plan.dstHeight;
    for (int k = 0; k < (b.severalBands ? 2 : 1); ++k) {
        b.outBuffer[k] = platform::ZeroedBlock::Allocate(plan.OutBandBytes(), false);
        const std::size_t pixels = 3 * std::size_t{plan.dstWidth}, stride = plan.DestinationStride();
        if (!plan.Tiled() && b.outBuffer[k])
            for (std::uint32_t row = 0; row < plan.bandRows; ++row)
                std::fill(b.outBuffer[k].data() + row * stride + pixels, b.outBuffer[k].data() + (row + 1) * stride, 0);
    }
    const std::size_t sums = plan.enlarge ? 0 : b.threads * ReduceWorkElements(plan.tileColumns);
    b.workBuffer = platform::ZeroedBlock::Allocate(sums * sizeof(std::uint16_t), false);
    return b;
}

namespace {

// Writes each band on a thread of its own, so that copying it into the file
// overlaps the computing of the next. One thread for the whole file, started
// with the first band that has a next one; without a thread, bands are
// written here.
class BandWriter {
public:
    explicit BandWriter(platform::ReplacementFile& destination) : m_destination(destination) {}
    ~BandWriter() {
        Finish();
        if (!m_thread.joinable()) return;
        {
            const std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    void Start(const std::uint8_t* data, std::size_t bytes, bool last) {
        if (!last && StartThread()) {  // the last band has nothing left to overlap with
            {
                const std::lock_guard lock(m_mutex);
                m_data = data;
                m_bytes = bytes;
                m_pending = true;
            }
            m_changed.notify_all();
            return;
        }
        if (!m_destination.Write(data, bytes)) m_failed = true;
    }
    // True when every band written so far went through.
    bool Finish() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_pending; });
        return !m_failed;
    }

private:
    bool StartThread() {
        if (!m_thread.joinable() && !m_noThread) {
            try {
                m_thread = std::thread([this] { Serve(); });
            } catch (const std::system_error&) {
                m_noThread = true;
            } catch (const std::bad_alloc&) {
                m_noThread = true;
            }
        }
        return m_thread.joinable();
    }
    void Serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_pending || m_ending; });
            if (!m_pending) return;
            lock.unlock();
            const bool written = m_destination.Write(m_data, m_bytes);
            lock.lock();
            if (!written) m_failed = true;
            m_pending = false;
            m_changed.notify_all();
        }
    }

    platform::ReplacementFile& m_destination;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::uint8_t* m_data = nullptr;
    std::size_t m_bytes = 0;
    bool m_pending = false;  // a band is handed over and not yet written
    bool m_ending = false;
    bool m_noThread = false;
    bool m_failed = false;
};

// One destination row at a time, in tiles of columns, for rows too wide for
// the band budget. Each tile is converted as a picture of its own, made from
// just the source columns it needs; the kernels' rules make the result the
// same as for whole rows. Rare enough that one thread does it.
BandResult ConvertInTiles(const BandPlan& plan, BandBuffers& buffers, platform::SourceFile& source,
                          std::uint64_t pixelOffset, platform::ReplacementFile& destination, std::stop_token stop) {
    static constexpr std::uint8_t kPad[4] = {};
    const std::size_t srcStride = plan.SourceStride();
    std::uint8_t* in = buffers.sourceBuffer.data();
    std::uint8_t* out = buffers.outBuffer[0].data();
    auto* sums = reinterpret_cast<std::uint16_t*>(buffers.workBuffer.data());
    for (std::uint32_t row = 0; row < plan.dstHeight; ++row) {
        for (std::uint32_t c0 = 0; c0 < plan.dstWidth; c0 += plan.tileColumns) {
            const std::uint32_t columns = std::min(plan.tileColumns, plan.dstWidth - c0);
            // The tile's source: its first column and row, width and height.
            const std::uint32_t x0 = plan.enlarge ? c0 / 2 : c0 * plan.step;
            const std::uint32_t width = plan.enlarge ? std::min(plan.srcWidth, (c0 + columns - 1) / 2 + 2) - x0
                                                     : columns * plan.step;
            const std::uint32_t y0 = plan.enlarge ? row / 2 : row * plan.step;
            const std::uint32_t height = plan.enlarge ? std::min(2u, plan.srcHeight - y0) : plan.step;
            const std::size_t tileStride = RowStride(width);
            for (std::uint32_t k = 0; k < height; ++k) {
                const std::uint64_t at = pixelOffset + (y0 + std::uint64_t{k}) * srcStride + 3 * std::uint64_t{x0};
                const auto read = source.ReadAt(in + k * tileStride, 3 * std::size_t{width}, at);
                if (!read || *read != 3 * std::size_t{width}) return BandResult::ReadFailed;
            }
            const std::uint32_t tileRow = plan.enlarge ? row % 2 : 0;
            const bool converted =
                plan.enlarge ? EnlargeDouble(in, width, height, out, tileRow, tileRow + 1, stop)
                             : ReduceBox({plan.step, width, height, columns, 1}, in, out, sums, 0, 1, stop);
            if (!converted) return BandResult::Stopped;
            const std::size_t outStride = plan.enlarge ? RowStride(2 * std::uint64_t{width}) : 0;
            if (!destination.Write(out + tileRow * outStride, 3 * std::size_t{columns})) return BandResult::WriteFailed;
        }
        const std::size_t pad = plan.DestinationStride() - 3 * std::size_t{plan.dstWidth};
        if (pad > 0 && !destination.Write(kPad, pad)) return BandResult::WriteFailed;
    }
    return BandResult::Completed;
}

BandResult ConvertWholeRows(const BandPlan& plan, BandBuffers& buffers, platform::SourceFile& source,
                            std::uint64_t pixelOffset, platform::ReplacementFile& destination, std::stop_token stop) {
    const std::size_t srcStride = plan.SourceStride();
    const ReduceGeometry geometry = plan.Geometry();
    auto* sums = reinterpret_cast<std::uint16_t*>(buffers.workBuffer.data());
    const std::uint8_t* src = buffers.sourceBuffer.data();
    BandWriter writer(destination);

    for (std::uint32_t first = 0, band = 0; first < plan.dstHeight; first += plan.bandRows, ++band) {
        const std::uint32_t end = std::min(plan.dstHeight, first + plan.bandRows);
        const std::pair<std::uint32_t, std::uint32_t> srcRows = plan.SourceRows(first, end);
        const std::uint32_t srcFirst = srcRows.first;
        // Rows count from the band's first row. Each slice copies its own
        // source rows: the copy out of the system's cache costs as much as
        // a reduction, and one thread alone would leave the other cores idle.
        std::atomic<bool> readFailed{false};
        const auto readRows = [&](std::uint32_t a, std::uint32_t b) {
            const std::size_t bytes = (b - a) * srcStride;
            const auto read = source.ReadAt(buffers.sourceBuffer.data() + a * srcStride, bytes,
                                            pixelOffset + (srcFirst + std::uint64_t{a}) * srcStride);
            if (read && *read == bytes) return true;
            readFailed = true;
            return false;
        };

        // An enlarged band starts on an even row, so its source starts on a
        // whole row; its slices share source rows, so all are read first.
        std::uint8_t* out = buffers.outBuffer[band % 2].data();
        const std::uint32_t rows = end - first;
        const std::uint32_t srcRowsLeft = plan.srcHeight - srcFirst;
        bool converted = false;
        if (plan.enlarge) {
            const auto readSlice = [&](unsigned, std::uint32_t c, std::uint32_t d) { return readRows(c, d); };
            converted = RunInBands(srcRows.second - srcFirst, buffers.threads, readSlice) &&
                        RunInBands(rows, buffers.threads, [&](unsigned, std::uint32_t c, std::uint32_t d) {
                            return EnlargeDouble(src, plan.srcWidth, srcRowsLeft, out, c, d, stop);
                        });
        } else {
            converted = RunInBands(rows, buffers.threads, [&](unsigned t, std::uint32_t c, std::uint32_t d) {
                return readRows(c * plan.step, d * plan.step) &&
                       ReduceBox(geometry, src, out, sums + t * ReduceWorkElements(plan.dstWidth), c, d, stop);
            });
        }
        // The band before this one is written from the other buffer; it has
        // to be done before that buffer is filled again.
        if (!writer.Finish()) return BandResult::WriteFailed;
        if (readFailed) return BandResult::ReadFailed;
        if (!converted) return BandResult::Stopped;
        writer.Start(out, rows * plan.DestinationStride(), end == plan.dstHeight);
    }
    return writer.Finish() ? BandResult::Completed : BandResult::WriteFailed;
}

}  // namespace

BandResult ConvertInBands(const BandPlan& plan, BandBuffers& buffers, platform::SourceFile& source,
                          std::uint64_t pixelOffset, platform::ReplacementFile& destination, std::stop_token stop) {
    try {
        return plan.Tiled() ? ConvertInTiles(plan, buffers, source, pixelOffset, destination, stop)
                            : ConvertWholeRows(plan, buffers, source, pixelOffset, destination, stop);
    } catch (const std::bad_alloc&) {  // the few small allocations of threads and their work
        return BandResult::OutOfMemory;
    }
}

}  // namespace pictrim
