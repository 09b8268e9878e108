#include "wide_path.h"

#include <vector>

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

std::wstring LongPath(const std::string& utf8) {
    std::wstring path = Wide(utf8);
    if (path.empty()) return {};
    // Already in the system's own form: taken literally.
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    // GetFullPathNameW is the one place the relative forms ("a.bmp",
    // "C:a.bmp", "\a.bmp", "..") are resolved: past the prefix nothing is.
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return {};
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (size == 0 || size >= full.size()) return {};
    full.resize(size);
    if (full.rfind(L"\\\\.\\", 0) == 0) return full;           // a device: "NUL" gives "\\.\NUL"
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

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return std::string(1, '.');
    // "C:\a.bmp" lives in "C:\", not in "C:", which names the current folder of drive C.
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

bool HasFileName(const std::string& path) {
    const auto slash = path.find_last_of("\\/:");
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return !base.empty() && base != "." && base != "..";
}

HANDLE OpenToLookAt(const std::wstring& path, DWORD extraFlags) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | extraFlags, nullptr);
}

}  // namespace pictrim::platform
