#pragma once

#include <string>
#include <vector>

namespace pictrim::test {

// pictrim-cli run as Windows runs a program: its arguments through the
// command line's quoting rules, in folder `cwd` (empty: this one), standard
// input from NUL, standard output and error into files in `dir`.
struct CliRun {
    int status = -1;
    std::string out, err;
};
enum class Cut {
    None,
    Kill,   // TerminateProcess: nothing of the program runs after it
    Break,  // Ctrl-Break on its console, as a user would press it
};
CliRun RunCliProcess(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
                     const std::string& cwd = "", Cut cut = Cut::None, double cutAfterSeconds = 0);

}  // namespace pictrim::test
