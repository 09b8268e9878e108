#include "path_checks.h"

#include <sys/stat.h>
#include <sys/vfs.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

#include "posix_identity.h"

namespace pictrim::platform {

namespace {

namespace fs = std::filesystem;

// Asked once per file system (by its device number) and process: a batch
// looks at thousands of files on one or two.
bool NumbersEachSpelling(const std::string& path, dev_t device) {
    static std::mutex mutex;
    static std::map<dev_t, bool> known;
    {
        std::lock_guard lock(mutex);
        if (const auto it = known.find(device); it != known.end()) return it->second;
    }
    constexpr long kFuse = 0x65735546, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42;
    struct statfs info {};
    if (::statfs(path.c_str(), &info) != 0) return false;
    const long type = static_cast<long>(info.f_type);
    const bool each = type == kFuse || type == kCifs || type == kSmb2;
    std::lock_guard lock(mutex);
    known.emplace(device, each);
    return each;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The path, resolved through the file system (a ".." after a link leaves
// the link's target, not the link's folder), each name as its folder lists
// it: the name itself when listed so, else the first entry that differs
// from it in case only.
std::string ListedSpelling(const std::string& path) {
    std::error_code ec;
    const fs::path whole = fs::canonical(path, ec);
    if (ec) return path;
    fs::path spelled = whole.root_path();
    for (const fs::path& part : whole.relative_path()) {
        const std::string name = part.string();
        std::string listed = name;
        for (fs::directory_iterator it(spelled, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            if (entry == name) {
                listed = name;
                break;
            }
            if (listed == name && EqualIgnoringCase(entry, name)) listed = entry;
        }
        ec.clear();
        spelled /= listed;
    }
    return spelled.string();
}

}  // namespace

FileIdentity StableIdentityOf(const std::string& path, const struct stat& st) {
    if (!NumbersEachSpelling(path, st.st_dev)) return IdentityOf(st);
    struct stat listed {};
    return ::stat(ListedSpelling(path).c_str(), &listed) == 0 ? IdentityOf(listed) : IdentityOf(st);
}

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return StableIdentityOf(path, st);
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileFacts{StableIdentityOf(path, st), static_cast<std::uint64_t>(st.st_size), S_ISDIR(st.st_mode)};
}

std::string AbsolutePath(const std::string& path) { return path; }

FolderListing ListFolder(const std::string& folder) {
    FolderListing listing;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        FolderEntry entry{it->path().filename().string()};
        entry.folder = it->is_directory(ignored) && !it->is_symlink(ignored);
        if (!entry.folder && !it->is_symlink(ignored)) {
            entry.file = it->is_regular_file(ignored);
        } else if (!entry.folder) {
            // A link counts as what it leads to; a dangling one as nothing.
            // One that cannot be followed is taken, so that the job says why.
            std::error_code status;
            const fs::file_type type = it->status(status).type();
            entry.file = type == fs::file_type::regular || (status && type != fs::file_type::not_found);
        }
        listing.entries.push_back(std::move(entry));
    }
    if (ec) listing.error = ec.message();
    return listing;
}

std::string WorkingFolder() {
    std::error_code ec;
    const fs::path here = fs::current_path(ec);
    return ec ? std::string() : here.string();
}

// A file's folder is resolved once per process (a batch names thousands of
// files in a few folders); only a name that is itself a link is resolved
// whole.
std::string ComparablePath(const std::string& path, const std::string& workingFolder) {
    static std::mutex mutex;
    static std::map<fs::path, fs::path> folders;
    std::error_code ec;
    const fs::path given(path);
    const fs::path whole = workingFolder.empty() || given.is_absolute() ? fs::absolute(given, ec) : workingFolder / given;
    if (!ec) {  // a folder met before as a file's
        std::lock_guard lock(mutex);
        if (const auto it = folders.find(whole); it != folders.end()) return it->second.string();
    }
    const fs::path name = whole.filename();
    struct stat st {};
    const bool plainName = !ec && !name.empty() && name != "." && name != ".." &&
                           (::lstat(whole.c_str(), &st) == 0 ? !S_ISLNK(st.st_mode) : errno == ENOENT);
    if (!plainName) {
        const fs::path canonical = fs::weakly_canonical(whole, ec);
        return ec ? fs::path(path).lexically_normal().string() : canonical.string();
    }
    std::lock_guard lock(mutex);
    auto it = folders.find(whole.parent_path());
    if (it == folders.end()) {
        const fs::path canonical = fs::weakly_canonical(whole.parent_path(), ec);
        if (ec) return fs::path(path).lexically_normal().string();
        it = folders.emplace(whole.parent_path(), canonical).first;
    }
    return (it->second / name).string();
}

}  // namespace pictrim::platform
