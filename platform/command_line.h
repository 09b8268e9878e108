#pragma once

#include <string>
#include <vector>

namespace pictrim::platform {

// The arguments after the program's name, in UTF-8. On Windows they are read
// as UTF-16 from the system, not through the ANSI code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace pictrim::platform
