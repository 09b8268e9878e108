#pragma once

namespace pictrim::platform {

// Opens /dev/null on whichever of descriptors 0, 1 and 2 a parent left
// closed, so that no file the program opens later takes one of their
// numbers and receives its messages (a temporary image included).
void KeepStandardStreamsOpen();

}  // namespace pictrim::platform
