#include "command_line.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include "wide_path.h"

namespace pictrim::platform {

std::vector<std::string> CommandLineArguments(int, char**) {
    int count = 0;
    wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::string> utf8;
    for (int i = 1; args != nullptr && i < count; ++i) utf8.push_back(Utf8(args[i]));
    ::LocalFree(args);
    return utf8;
}

}  // namespace pictrim::platform
