#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace pictrim::platform {

// What makes two paths the same file, however they are spelled: through
// "..", links, hard links, and on Windows also another case or a short
// (8.3) name. Linux: device and inode; Windows: volume serial number and
// file index.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    friend auto operator<=>(const FileIdentity&, const FileIdentity&) = default;
};

// A file's modification time, whatever the system counts it in.
struct FileTime {
    std::int64_t seconds = 0;        // since 1970-01-01 00:00 UTC
    std::uint32_t nanoseconds = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// The identity of the file the path names, following links; none when
// nothing can be reached under it.
std::optional<FileIdentity> IdentityOf(const std::string& path);

// What a batch needs to know of each of its sources, looked at once.
struct FileFacts {
    FileIdentity identity;
    std::uint64_t size = 0;
    bool folder = false;
};
std::optional<FileFacts> FactsOf(const std::string& path);

// One spelling per place, for telling whether two destinations are one:
// absolute, with "." and ".." and links resolved as far as the path exists,
// and on Windows, where file names ignore case, in one case.
std::string ComparablePath(const std::string& path);

}  // namespace pictrim::platform
