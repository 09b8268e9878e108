#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pictrim::platform {

// What makes two paths the same file, however they are spelled: through
// "..", links, hard links, and on Windows also another case or a short
// (8.3) name: the volume that holds the file and the file's number on it
// (Linux: device and inode; Windows: volume serial number and file index).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
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
// and on Windows, where file names ignore case, in one case. A relative
// path is taken from `workingFolder` when one is given (WorkingFolder(),
// asked once for many paths), else from the working folder asked anew.
std::string ComparablePath(const std::string& path, const std::string& workingFolder = {});
// The working folder, absolute; empty where it cannot be had or is not needed
// (Windows: its paths are absolute before they are compared).
std::string WorkingFolder();

// The path as the system resolves it, where the text alone could be read
// another way. Windows: absolute by the system's own rules, which alone
// know that "R:name" and "R:" mean drive R's current folder, with "\"
// between names and "." and ".." gone; "\\?\" and device paths stay as
// given. Linux: as given.
std::string AbsolutePath(const std::string& path);

// The folder a path names its file in ("." for a bare name; a root keeps
// its separator: "/", "C:\", "\\?\C:\", "\\server\share\"), and
// whether it names a file at all (not "", ".", "..", a root or a bare drive).
std::string FolderOf(const std::string& path);
bool HasFileName(const std::string& path);

// One entry of a folder as a walk sees it. A link or junction to a folder
// is never one to walk into: a tree with a link to its own top would not end.
struct FolderEntry {
    std::string name;
    bool folder = false;  // a folder itself, to walk into
    bool file = false;    // a file, a link to one, or one that cannot be looked into
};
struct FolderListing {
    std::vector<FolderEntry> entries;
    std::string error;  // why the folder could not be listed; empty when it was
};
FolderListing ListFolder(const std::string& folder);

}  // namespace pictrim::platform
