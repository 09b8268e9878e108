#pragma once

#include <cstdio>
#include <string>

#include "platform/notice.h"
#include "platform/terminal_question.h"

namespace pictrim::cli {

using platform::Notice;
using platform::NoticeAnswer;
using platform::NoticeButtons;
using platform::NoticeIcon;
using platform::NoticeKind;
using platform::NoticeOwner;
using platform::TerminalQuestion;

// The text as it may reach a terminal: control characters (C0, DEL, C1),
// which a file name may hold and which would steer the terminal, shown as
// '?'. Output that is not a terminal keeps names exact, for scripts.
std::string ShownOnTerminal(const std::string& text);

// Notices on a terminal: completion on stdout, everything else on stderr,
// each as "Pictrim: <text>". A preset answer decides every question; without
// one a question is asked on the terminal when stdin is one, and otherwise
// declined with a line that says why.
class TerminalNotices : public NoticeOwner {
public:
    enum class PresetAnswer { None, Yes, No };

    // Which of the three streams are terminals.
    struct Terminals {
        bool in = false, out = false, err = false;
    };

    TerminalNotices(PresetAnswer preset, std::FILE* in, std::FILE* out, std::FILE* err, Terminals terminals);

    NoticeAnswer ShowNotice(const Notice& notice) override;
    bool CompletionShown() const { return m_completionShown; }
    // Answers a question being asked, and every later one, with No.
    void Cancel() { m_question.Cancel(); }

private:
    NoticeAnswer Ask(const Notice& notice);
    // "<caption>: <text>", shown safely when the stream is a terminal.
    std::string Line(const Notice& notice, std::FILE* stream) const;

    PresetAnswer m_preset;
    std::FILE* m_out;
    std::FILE* m_err;
    Terminals m_terminals;
    bool m_completionShown = false;
    TerminalQuestion m_question;
};

}  // namespace pictrim::cli
