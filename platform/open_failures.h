#pragma once

#include <cstddef>

namespace pictrim::platform {

// Running out of file descriptors is a failure of the run (too many files
// at once, too low a limit), not a fault of the file that could not be
// opened. The platform notes why its opens fail, so that callers can tell
// the two apart.
void NoteOpenFailure(int error);  // the errno value of a failed open
// Whether the last open noted on this thread failed for want of
// descriptors; clears the note.
bool TakeDescriptorShortage();
// Whether any open of this process has failed for want of descriptors.
bool DescriptorsRanShort();
// How many files the process may hold open at once; 0 when the system sets
// no limit worth planning for.
std::size_t DescriptorLimit();

}  // namespace pictrim::platform
