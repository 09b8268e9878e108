#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pictrim::platform {

// Whether the text is well-formed UTF-8 (no overlong forms or surrogates).
bool IsUtf8(std::string_view text);
// The text with each byte that is not part of a UTF-8 character shown as
// \xNN, so that a name Windows cannot spell can still be told.
std::string EscapedBytes(std::string_view text);

// The last name of a path: what follows its last separator.
std::string NameOf(const std::string& path);
// The text with A-Z as a-z: the folding every case-ignoring file system
// shares, whatever it does past ASCII.
std::string FoldedAscii(std::string text);

// Paths travel through the program as UTF-8 std::string. std::filesystem
// would read and write a narrow string in the ANSI code page on Windows,
// which cannot hold every name: these go through UTF-8 explicitly there.
// Neither throws, as std::filesystem's own conversions do on Windows: text
// that is not UTF-8 (refused before it gets here) gives a path that cannot
// name a file, and a name that is not UTF-16 gives U+FFFD where it is broken.
#ifdef _WIN32
std::filesystem::path PathFromUtf8(const std::string& text);
std::string Utf8Of(const std::filesystem::path& path);
// Where one name ends and the next begins.
inline constexpr char kPathSeparators[] = "/\\";
// The one the system itself writes.
inline constexpr char kSeparator = '\\';
// Names are UTF-16 there: bytes that are not UTF-8 spell none.
inline constexpr bool kNamesAreUtf8 = true;
#else
inline std::filesystem::path PathFromUtf8(const std::string& text) { return text; }
inline std::string Utf8Of(const std::filesystem::path& path) { return path.string(); }
inline constexpr char kPathSeparators[] = "/";
inline constexpr char kSeparator = '/';
inline constexpr bool kNamesAreUtf8 = false;  // any bytes but '/' and NUL
#endif

}  // namespace pictrim::platform
