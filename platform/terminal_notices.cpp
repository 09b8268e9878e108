#include "terminal_notices.h"

#include <cctype>
#include <string>

#include "standard_streams.h"

namespace pictrim::platform {

TerminalNotices::TerminalNotices(PresetAnswer preset, std::FILE* in, std::FILE* out, std::FILE* err,
                                 bool inIsTerminal)
    : m_preset(preset), m_out(out), m_err(err), m_inIsTerminal(inIsTerminal), m_question(in) {}

NoticeAnswer TerminalNotices::ShowNotice(const Notice& notice) {
    if (notice.buttons == NoticeButtons::YesNo) return Ask(notice);
    std::FILE* stream = notice.kind == NoticeKind::Completion ? m_out : m_err;
    Print(stream, "%s: %s\n", notice.caption.c_str(), notice.text.c_str());
    std::fflush(stream);
    if (notice.kind == NoticeKind::Completion) m_completionShown = true;
    return NoticeAnswer::Ok;
}

// An answer given on the command line wins over the terminal: a script
// that said --no must never be asked, let alone overwrite.
NoticeAnswer TerminalNotices::Ask(const Notice& notice) {
    if (m_preset == PresetAnswer::None && m_inIsTerminal) {
        Print(m_err, "%s: %s [y/N] ", notice.caption.c_str(), notice.text.c_str());
        std::fflush(m_err);
        const std::optional<std::string> answer = m_question.ReadLine();
        if (!answer) Print(m_err, "\n");  // Ctrl-D or Ctrl-C: end the prompt's line
        const std::string line = answer.value_or("");
        const auto first = line.find_first_not_of(" \t");
        const bool yes = first != std::string::npos && std::tolower(static_cast<unsigned char>(line[first])) == 'y';
        return yes ? NoticeAnswer::Yes : NoticeAnswer::No;
    }
    Print(m_err, "%s: %s\n", notice.caption.c_str(), notice.text.c_str());
    switch (m_preset) {
    case PresetAnswer::Yes:
        Print(m_err, "pictrim-cli: answered yes (--yes)\n");
        return NoticeAnswer::Yes;
    case PresetAnswer::No:
        Print(m_err, "pictrim-cli: answered no (--no)\n");
        return NoticeAnswer::No;
    case PresetAnswer::None:
        break;
    }
    Print(m_err, "pictrim-cli: declined: no terminal to ask on; pass --yes to overwrite or --no to keep\n");
    return NoticeAnswer::No;
}

}  // namespace pictrim::platform
