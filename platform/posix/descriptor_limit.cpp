#include <sys/resource.h>

#include "open_failures.h"

namespace pictrim::platform {

std::size_t DescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 0;
    return static_cast<std::size_t>(limit.rlim_cur);
}

}  // namespace pictrim::platform
