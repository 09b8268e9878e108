#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/notice.h"
#include "platform/window.h"

namespace pictrim::test {

// Records every notice and answers every question with `answer`.
class FakeNotices : public platform::NoticeOwner {
public:
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override {
        shown.push_back(notice);
        if (onShow) onShow();
        return notice.buttons == platform::NoticeButtons::YesNo ? answer : platform::NoticeAnswer::Ok;
    }
    std::vector<platform::Notice> shown;
    platform::NoticeAnswer answer = platform::NoticeAnswer::Yes;
    std::function<void()> onShow;  // runs while the notice is "on screen"
};

class FakeButton : public platform::Window {
public:
    void EnableWindow(bool enable) override { enabled = enable; }
    bool enabled = true;
};

// Runs one conversion job at a position of the ratio list (with the listed
// percent unless another is given), answering Yes to the overwrite question.
// Checks that the job ends idle with Execute enabled and tells exactly one
// outcome, and returns that notice's text.
std::string RunJob(const std::string& src, const std::string& dst, int ratioIndex, int percent = 0);

// The same in a child process, after `prepare` has run there (to lower a
// limit, drop privileges or set a test hook).
std::string RunJobInChild(const std::function<void()>& prepare, const std::string& src, const std::string& dst,
                          int ratioIndex);

// In a child: gives up root for the "nobody" user, so that file permissions
// apply. Does nothing for a process that is not root.
void DropToNobody();

}  // namespace pictrim::test
