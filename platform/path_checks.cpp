#include "path_checks.h"

#include <sys/stat.h>

namespace pictrim::platform {

bool PathEntryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

bool SameExistingFile(const std::string& a, const std::string& b) {
    const auto ia = IdentityOf(a);
    const auto ib = IdentityOf(b);
    return ia && ib && *ia == *ib;
}

}  // namespace pictrim::platform
