#include "open_failures.h"

namespace pictrim::platform {

// Files are opened as handles, which Windows does not count against a
// small per-process limit.
std::size_t DescriptorLimit() { return 0; }

}  // namespace pictrim::platform
