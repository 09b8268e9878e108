#pragma once

#include <cstdint>

namespace pictrim::platform {

// Why a call into the system failed: the kind callers tell apart, and the
// system's own number for whoever needs more.
struct Error {
    enum class Kind {
        None,
        // The process or the system holds too many files open: a failure of
        // the run (too many at once, too low a limit), not of the file.
        OutOfDescriptors,
        NotFound,   // nothing under the name, or a folder on its way is missing
        NameTaken,  // something is under the name already
        NoSpace,    // the disk or the quota is full
        NotAFile,   // a folder, device, pipe or link where a file was wanted
        Other,
    };
    Kind kind = Kind::None;
    std::int64_t code = 0;  // errno; Windows: GetLastError(); 0 when the system gave none

    // True for an error, so that `if (const Error error = call())` reads as it should.
    explicit operator bool() const { return kind != Kind::None; }
};

// The error the last failed call left, as the system reported it (errno;
// Windows: GetLastError()): the one place where the system's numbers are
// sorted into kinds. A shortage of descriptors is noted for
// DescriptorsRanShort too.
Error LastError();

}  // namespace pictrim::platform
