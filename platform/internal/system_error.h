#pragma once

#include "error.h"

namespace pictrim::platform {

// Each system's own: the error its last failed call left (errno;
// Windows: GetLastError()), sorted into kinds. LastError adds the note of a
// descriptor shortage.
Error LastSystemError();

}  // namespace pictrim::platform
