#pragma once

#include <cstdint>
#include <stop_token>

#include "band_plan.h"
#include "platform/replacement_file.h"
#include "platform/source_file.h"
#include "platform/zeroed_block.h"

namespace pictrim {

// The job's buffers, all taken before the destination is touched:
// SourceBuffer holds one band of source rows, each OutBuffer one band of
// destination rows (one is written while the next is computed), WorkBuffer
// a row of channel sums per thread of a reduction.
struct BandBuffers {
    platform::ZeroedBlock sourceBuffer;
    platform::ZeroedBlock outBuffer[2];
    platform::ZeroedBlock workBuffer;
    unsigned threads = 1;
    bool severalBands = false;  // only then is the second OutBuffer needed

    static BandBuffers Allocate(const BandPlan& plan);
    bool Complete() const { return sourceBuffer && outBuffer[0] && (!severalBands || outBuffer[1]) && workBuffer; }
};

enum class BandResult { Completed, Stopped, ReadFailed, WriteFailed, OutOfMemory };

// Reads the source rows from pixelOffset on, converts them band by band and
// appends each band to the destination, whose header is already written.
// Commits nothing: that is the caller's last step.
BandResult ConvertInBands(const BandPlan& plan, BandBuffers& buffers, platform::SourceFile& source,
                          std::uint64_t pixelOffset, platform::ReplacementFile& destination, std::stop_token stop);

}  // namespace pictrim
