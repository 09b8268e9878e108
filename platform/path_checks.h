#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

struct stat;

namespace pictrim::platform {

// What makes two paths the same file on Linux, however they are spelled:
// through "..", symbolic links or hard links.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file the path names, following links; none when
// nothing can be reached under it.
std::optional<FileIdentity> IdentityOf(const std::string& path);
// The identity of a file already looked at.
FileIdentity IdentityOf(const struct stat& st);

}  // namespace pictrim::platform
