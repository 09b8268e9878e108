#include <gmock/gmock.h>

#include <cstdio>
#include <string>

#include "cli/terminal_notices.h"

namespace pictrim::cli {
namespace {

// The one-file overwrite question, answered by what is typed on the
// terminal (here a file standing in for it): the answer and how many times
// the question was put.
TEST(TerminalNotices, OverwriteQuestionAsksAgainUntilTheAnswerIsClear) {
    struct Case {
        const char* typed;  // then the end of input
        NoticeAnswer answer;
        int asked;
    };
    const Case cases[] = {
        {"y\n", NoticeAnswer::Yes, 1},
        {" Yes \r\n", NoticeAnswer::Yes, 1},
        {"x\nmaybe\nY\n", NoticeAnswer::Yes, 3},
        {"\n", NoticeAnswer::No, 1},
        {"no\ny\n", NoticeAnswer::No, 1},
        {"yes please\nN\n", NoticeAnswer::No, 2},
        {"typo\n", NoticeAnswer::No, 2},  // the end of input declines
        {"", NoticeAnswer::No, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.typed)));
        const std::string typed = c.typed;
        std::FILE* in = std::tmpfile();
        ASSERT_EQ(std::fwrite(typed.data(), 1, typed.size(), in), typed.size());
        std::rewind(in);
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        NoticeAnswer answer;
        {
            TerminalNotices notices(TerminalNotices::PresetAnswer::None, in, out, err, {.in = true});
            answer = notices.ShowNotice({"out.bmp は既に存在します。上書きしますか？", "Pictrim", NoticeButtons::YesNo,
                                         NoticeIcon::Exclamation, NoticeKind::Question});
        }
        std::string said(4096, '\0');
        std::rewind(err);
        said.resize(std::fread(said.data(), 1, said.size(), err));
        std::fclose(in);
        std::fclose(out);
        std::fclose(err);
        EXPECT_EQ(answer, c.answer);
        int asked = 0;
        for (auto at = said.find("[y/N]"); at != std::string::npos; at = said.find("[y/N]", at + 1)) ++asked;
        EXPECT_EQ(asked, c.asked) << said;
    }
}

}  // namespace
}  // namespace pictrim::cli
