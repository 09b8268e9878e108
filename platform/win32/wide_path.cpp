#include "wide_path.h"

#include <algorithm>
#include <vector>

#include "utf8_path.h"

namespace pictrim::platform {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                                        nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& utf16) {
    if (utf16.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0,
                                        nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::wstring FullPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    if (path.empty()) return {};
    // Already in the system's own form: taken literally.
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    // GetFullPathNameW is the one place the relative forms ("a.bmp",
    // "C:a.bmp", "C:", "\a.bmp", "..") are resolved: past the prefix nothing
    // is. It also leaves one "\" between names. Called once, with room for
    // the longest path Windows has (32767 characters with the terminator):
    // asked for the size of "C:a.bmp" first, Wine 8 writes past a buffer of
    // its own, and given a buffer of 64 KiB or more it loses its length.
    std::wstring full(32767, L'\0');
    const DWORD size = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (size == 0 || size >= full.size()) return {};
    full.resize(size);
    return full;
}

std::wstring LongPath(const std::string& utf8) {
    const std::wstring full = FullPath(utf8);
    // "NUL" gives "\\.\NUL", a device, left as it is.
    if (full.empty() || full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
    return L"\\\\?\\" + full;
}

std::string FinalPath(HANDLE file) {
    std::vector<wchar_t> buffer(512);
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) {
            std::wstring path(buffer.data(), n);
            if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
                path = L"\\\\" + path.substr(8);
            } else if (path.rfind(L"\\\\?\\", 0) == 0) {
                path = path.substr(4);
            }
            return Utf8(path);
        }
        buffer.resize(n + 1);
    }
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
    return folder.empty() || folder.back() == L'\\' ? folder + name : folder + L'\\' + name;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    const std::wstring wide = Wide(text);
    return wide.empty() && !text.empty() ? std::filesystem::path(L"<not UTF-8>") : std::filesystem::path(wide);
}

std::string Utf8Of(const std::filesystem::path& path) { return Utf8(path.native()); }

HANDLE OpenToLookAt(const std::wstring& path, DWORD extraFlags) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | extraFlags, nullptr);
}

}  // namespace pictrim::platform
