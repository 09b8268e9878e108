#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/notice.h"
#include "platform/window.h"

namespace pictrim::test {

// Records every notice and answers questions from a script (Yes when the
// script has run out).
class FakeNotices : public platform::NoticeOwner {
public:
    platform::NoticeAnswer ShowNotice(const platform::Notice& notice) override {
        std::function<void()> hook;
        platform::NoticeAnswer answer = platform::NoticeAnswer::Ok;
        {
            std::lock_guard lock(m_mutex);
            shown.push_back(notice);
            if (notice.buttons == platform::NoticeButtons::YesNo) {
                answer = platform::NoticeAnswer::Yes;
                if (!answers.empty()) {
                    answer = answers.front();
                    answers.pop_front();
                }
            }
            hook = onShow;
        }
        if (hook) hook();
        return answer;
    }

    std::vector<std::string> Texts() const {
        std::lock_guard lock(m_mutex);
        std::vector<std::string> texts;
        for (const auto& n : shown) texts.push_back(n.text);
        return texts;
    }

    std::vector<platform::Notice> shown;
    std::deque<platform::NoticeAnswer> answers;
    std::function<void()> onShow;  // runs while the notice is "on screen"

private:
    mutable std::mutex m_mutex;
};

class FakeButton : public platform::Window {
public:
    void EnableWindow(bool enable) override {
        enabled = enable;
        ++changes;
    }
    std::atomic<bool> enabled{true};
    std::atomic<int> changes{0};
};

}  // namespace pictrim::test
