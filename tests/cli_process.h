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
// With killAfterSeconds, a run still going then is ended by TerminateProcess:
// nothing of the program runs after it.
CliRun RunCliProcess(const std::string& exe, const std::vector<std::string>& args, const std::string& dir,
                     const std::string& cwd = "", double killAfterSeconds = 0);

}  // namespace pictrim::test
