#pragma once

#include <filesystem>
#include <string>

namespace pictrim::platform {

// Paths travel through the program as UTF-8 std::string. std::filesystem
// would read and write a narrow string in the ANSI code page on Windows,
// which cannot hold every name: these go through UTF-8 explicitly there.
#ifdef _WIN32
inline std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
// Where one name ends and the next begins.
inline constexpr char kPathSeparators[] = "/\\";
#else
inline std::filesystem::path PathFromUtf8(const std::string& text) { return text; }
inline std::string Utf8Of(const std::filesystem::path& path) { return path.string(); }
inline constexpr char kPathSeparators[] = "/";
#endif

}  // namespace pictrim::platform
