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

std::string AbsolutePath(const std::string& path) {
    const std::wstring full = FullPath(path);
    return full.empty() ? path : Utf8(full);
}

namespace {

// The system's own words for an error, as strerror gives them on Linux.
std::string MessageOf(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = n > 0 ? std::wstring(text, n) : L"error " + std::to_wstring(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == L'.' || message.back() == L'\r' || message.back() == L'\n' ||
                                message.back() == L' ')) {
        message.pop_back();
    }
    return Utf8(message);
}

// A junction, a symbolic link or a mount point: a name for something
// elsewhere. Other reparse points (cloud files' placeholders) are the
// folder itself. Wine gives no tag (0) for the Unix links it shows as
// reparse points: taken for links too.
bool IsLink(const WIN32_FIND_DATAW& found) {
    return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (found.dwReserved0 == 0 || IsReparseTagNameSurrogate(found.dwReserved0));
}

}  // namespace

FolderListing ListFolder(const std::string& folder) {
    FolderListing listing;
    const std::wstring where = LongPath(folder);
    if (where.empty()) {
        listing.error = MessageOf(ERROR_INVALID_NAME);
        return listing;
    }
    WIN32_FIND_DATAW found{};
    const HANDLE search =
        ::FindFirstFileExW(Joined(where, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        // A drive's root lists no "." or "..": empty, it lists nothing at all.
        if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND) listing.error = MessageOf(error);
        return listing;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderEntry entry{Utf8(name)};
        const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!IsLink(found)) {
            entry.folder = directory;
            entry.file = !directory;
        } else if (!directory) {
            // Counts as what it leads to; a dangling one as nothing, one
            // that cannot be followed as a file, so that the job says why.
            const FileHandle file(OpenToLookAt(Joined(where, name)));
            BY_HANDLE_FILE_INFORMATION info{};
            const DWORD error = file ? ERROR_SUCCESS : ::GetLastError();
            if (file && ::GetFileInformationByHandle(file.get(), &info)) {
                entry.file = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
            } else {
                entry.file = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
            }
        }
        listing.entries.push_back(std::move(entry));
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) listing.error = MessageOf(error);
    return listing;
}

std::string WorkingFolder() { return {}; }

std::string ComparablePath(const std::string& path, const std::string&) {
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
