#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/notice.h"
#include "platform/window.h"

namespace pictrim::test {

// Records every notice and answers Yes to every question.
class FakeNotices : public platform::NoticeOwner {
public:
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override {
        shown.push_back(notice);
        if (onShow) onShow();
        return notice.buttons == platform::NoticeButtons::YesNo ? platform::NoticeAnswer::Yes
                                                                : platform::NoticeAnswer::Ok;
    }
    std::vector<platform::Notice> shown;
    std::function<void()> onShow;  // runs while the notice is "on screen"
};

class FakeButton : public platform::Window {
public:
    void EnableWindow(bool enable) override { enabled = enable; }
    bool enabled = true;
};

// Runs one conversion job at a position of the ratio list (with the listed
// percent unless another is given) and returns the text of its outcome.
// Checks on the way that the job counts as busy, with Execute disabled, while
// any notice is up; that it tells exactly one outcome; and that it ends idle
// with Execute enabled again.
std::string RunJob(const std::string& src, const std::string& dst, int ratioIndex, int percent = 0);

}  // namespace pictrim::test
