#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/notice.h"
#include "platform/window.h"

namespace pictrim::test {

// Records every notice and answers questions from a script (Yes once the
// script has run out). Read it only after the job has ended.
class FakeNotices : public platform::NoticeOwner {
public:
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override {
        shown.push_back(notice);
        texts.push_back(notice.text);
        if (onShow) onShow();
        if (notice.buttons != platform::NoticeButtons::YesNo) return platform::NoticeAnswer::Ok;
        if (answers.empty()) return platform::NoticeAnswer::Yes;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::vector<platform::Notice> shown;
    std::vector<std::string> texts;
    std::deque<platform::NoticeAnswer> answers;
    std::function<void()> onShow;  // runs while the notice is "on screen"
};

class FakeButton : public platform::Window {
public:
    void EnableWindow(bool enable) override { enabled = enable; }
    bool enabled = true;
};

}  // namespace pictrim::test
