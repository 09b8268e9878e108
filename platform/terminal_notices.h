#pragma once

#include <cstdio>

#include "notice.h"

namespace pictrim::platform {

// Notices on a terminal: completion on stdout, everything else on stderr,
// each as "Pictrim: <text>". A preset answer decides every question; without
// one a question is asked on the terminal when stdin is one, and otherwise
// declined with a line that says why.
class TerminalNotices : public NoticeOwner {
public:
    enum class PresetAnswer { None, Yes, No };

    TerminalNotices(PresetAnswer preset, std::FILE* in, std::FILE* out, std::FILE* err, bool inIsTerminal);

    NoticeAnswer ShowNotice(const Notice& notice) override;
    bool CompletionShown() const { return m_completionShown; }

private:
    NoticeAnswer Ask(const Notice& notice);

    PresetAnswer m_preset;
    std::FILE* m_in;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_inIsTerminal;
    bool m_completionShown = false;
};

}  // namespace pictrim::platform
