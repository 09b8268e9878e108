#include "path_checks.h"

#include "file_handle.h"
#include "wide_path.h"

namespace pictrim::platform {

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    const auto facts = FactsOf(path);
    if (!facts) return std::nullopt;
    return facts->identity;
}

std::optional<FileFacts> FactsOf(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const FileHandle file(OpenToLookAt(LongPath(path)));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file || !::GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
    return FileFacts{IdentityOf(info), (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow,
                     (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0};
}

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber, (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

std::string ComparablePath(const std::string& path) {
    // Links and short names resolved as far as the path exists: the file
    // itself, or else its folder.
    std::wstring full = LongPath(path);
    if (full.empty()) return path;
    std::string resolved;
    if (const FileHandle file(OpenToLookAt(full)); file) {
        resolved = FinalPath(file.get());
    } else if (const FileHandle folder(OpenToLookAt(Wide(FolderOf(Utf8(full))))); folder && HasFileName(path)) {
        const std::string name = Utf8(full.substr(full.find_last_of(L'\\') + 1));
        if (const std::string there = FinalPath(folder.get()); !there.empty()) {
            resolved = there + (there.back() == '\\' ? "" : "\\") + name;
        }
    }
    std::wstring key = resolved.empty() ? full : Wide(resolved);
    // Names that differ only in case are one name to Windows.
    std::wstring upper(key.size(), L'\0');
    if (!key.empty() && ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.data(), static_cast<int>(key.size()),
                                        upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0) > 0) {
        key = upper;
    }
    return Utf8(key);
}

}  // namespace pictrim::platform
