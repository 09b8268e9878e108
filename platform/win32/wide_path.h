#pragma once

#include <windows.h>

#include <string>

#include "platform/path_checks.h"

namespace pictrim::platform {

// UTF-8 inside the program, UTF-16 at every call into Windows.
std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& utf16);

// The path as Windows' wide calls take it whatever its length: absolute,
// with "/" turned into "\", "." and ".." resolved, and the "\\?\" (or
// "\\?\UNC\") prefix that lifts the 260-character limit. Device names
// ("\\.\NUL") are left as they are. Empty when the text is not UTF-8.
std::wstring LongPath(const std::string& utf8);
// The same without the prefix, as the user would write it.
std::wstring FullPath(const std::string& utf8);

// The path of an open file, as the file system spells it; UTF-8, without the
// "\\?\" prefix.
std::string FinalPath(HANDLE file);

// The name in the folder with one "\" between them: a root such as
// "\\?\C:\" ends in one already, and past "\\?\" Windows takes a doubled
// one as it stands (a name that is empty), where Wine forgives it.
std::wstring Joined(const std::wstring& folder, const std::wstring& name);

// Opens what the path names (a folder too) only to look at it: no read or
// write access, every kind of sharing, so that it never stands in anyone's way.
HANDLE OpenToLookAt(const std::wstring& path, DWORD extraFlags = 0);

}  // namespace pictrim::platform
