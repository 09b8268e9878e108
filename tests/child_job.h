#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pictrim::test {

// Runs one conversion job in a child process, after `prepare` has run there
// (to lower a limit or drop privileges), and returns the texts of the
// notices the child showed, in order.
std::vector<std::string> RunJobInChild(const std::function<void()>& prepare, const std::string& src,
                                       const std::string& dst, int ratioIndex);

// In a child: gives up root for the "nobody" user, so that file permissions
// apply. Does nothing for a process that is not root.
void DropToNobody();

}  // namespace pictrim::test
