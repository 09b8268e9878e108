#pragma once

#include <sys/stat.h>

#include "path_checks.h"

namespace pictrim::platform {

// The identity of a file already looked at.
inline FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace pictrim::platform
