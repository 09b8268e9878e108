#include "job_harness.h"

#include <gtest/gtest.h>

#include "engine/exec_thread.h"
#include "engine/ratio.h"

namespace pictrim::test {

std::string RunJob(const std::string& src, const std::string& dst, int index, int percent) {
    FakeNotices notices;
    FakeButton button;
    CExecThread job({&notices, src, dst, &button, percent != 0 ? percent : RatioList[index].percent, index});
    notices.onShow = [&] {
        EXPECT_EQ(job.m_bBusy, 1);
        EXPECT_FALSE(button.enabled);
    };
    job.ConversionJob();
    EXPECT_EQ(job.m_bBusy, 0);
    EXPECT_TRUE(button.enabled);
    std::vector<std::string> outcomes;
    for (const auto& notice : notices.shown)
        if (notice.kind != platform::NoticeKind::Question) outcomes.push_back(notice.text);
    EXPECT_EQ(outcomes.size(), 1u);
    return outcomes.empty() ? "(no notice)" : outcomes.back();
}

}  // namespace pictrim::test
