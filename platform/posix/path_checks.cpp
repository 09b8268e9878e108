#include "path_checks.h"

#include <sys/stat.h>

#include <filesystem>

#include "posix_identity.h"

namespace pictrim::platform {

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return IdentityOf(st);
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileFacts{IdentityOf(st), static_cast<std::uint64_t>(st.st_size), S_ISDIR(st.st_mode)};
}

std::string ComparablePath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
    return ec ? fs::path(path).lexically_normal().string() : canonical.string();
}

}  // namespace pictrim::platform
