#include <algorithm>

#include "path_checks.h"
#include "utf8_path.h"

// How a path splits into its folder and its name: text alone, the same
// rules for every caller, only the root differs between the systems.
namespace pictrim::platform {

namespace {

bool IsSeparator(char c) { return std::string_view(kPathSeparators).find(c) != std::string_view::npos; }

#ifdef _WIN32
// Past the `names` names (each ended by a separator) that start at `from`.
std::size_t PastNames(const std::string& path, std::size_t from, int names) {
    for (; names > 0; --names) {
        const auto slash = path.find_first_of(kPathSeparators, from);
        if (slash == std::string::npos) return path.size();
        from = slash + 1;
    }
    return from;
}

// How much of the path is its root, which keeps its separator: "C:\",
// "\\?\C:\", "\\server\share\", "\\?\UNC\server\share\",
// "\\?\Volume{...}\", "\"; "C:" alone, a drive's current folder.
std::size_t RootLength(const std::string& path) {
    if (path.rfind("\\\\?\\UNC\\", 0) == 0) return PastNames(path, 8, 2);
    if (path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\\\.\\", 0) == 0) {
        return path.size() >= 6 && path[5] == ':' ? std::min<std::size_t>(path.size(), 7) : PastNames(path, 4, 1);
    }
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return PastNames(path, 2, 2);
    if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
    return !path.empty() && IsSeparator(path[0]) ? 1 : 0;
}
// "C:name" names a file in drive C's current folder.
constexpr char kNameStarts[] = "\\/:";
#else
std::size_t RootLength(const std::string& path) { return !path.empty() && IsSeparator(path[0]) ? 1 : 0; }
constexpr char kNameStarts[] = "/";
#endif

}  // namespace

std::string FolderOf(const std::string& path) {
    const std::size_t root = RootLength(path);
    const auto slash = path.find_last_of(kPathSeparators);
    // std::string(1, '.'), not ".": GCC 12 warns falsely (-Wrestrict).
    if (slash == std::string::npos || slash < root) return root > 0 ? path.substr(0, root) : std::string(1, '.');
    return path.substr(0, slash);
}

bool HasFileName(const std::string& path) {
    if (RootLength(path) >= path.size()) return false;
    const auto slash = path.find_last_of(kNameStarts);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return !base.empty() && base != "." && base != "..";
}

}  // namespace pictrim::platform
