#include "terminal_notices.h"

#include <cctype>
#include <string>

#include "platform/standard_streams.h"

namespace pictrim::cli {

std::string ShownOnTerminal(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080 to U+009F in UTF-8
            shown += '?';
            ++i;
        } else {
            shown += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c);
        }
    }
    return shown;
}

TerminalNotices::TerminalNotices(PresetAnswer preset, std::FILE* in, std::FILE* out, std::FILE* err,
                                 Terminals terminals)
    : m_preset(preset), m_out(out), m_err(err), m_terminals(terminals), m_question(in) {}

std::string TerminalNotices::Line(const Notice& notice, std::FILE* stream) const {
    const std::string line = notice.caption + ": " + notice.text;
    return (stream == m_out ? m_terminals.out : m_terminals.err) ? ShownOnTerminal(line) : line;
}

NoticeAnswer TerminalNotices::ShowNotice(const Notice& notice) {
    if (notice.buttons == NoticeButtons::YesNo) return Ask(notice);
    std::FILE* stream = notice.kind == NoticeKind::Completion ? m_out : m_err;
    platform::Print(stream, "%s\n", Line(notice, stream).c_str());
    std::fflush(stream);
    if (notice.kind == NoticeKind::Completion) m_completionShown = true;
    return NoticeAnswer::Ok;
}

// An answer given on the command line wins over the terminal: a script
// that said --no must never be asked, let alone overwrite.
NoticeAnswer TerminalNotices::Ask(const Notice& notice) {
    if (m_preset == PresetAnswer::None && m_terminals.in) {
        // A typo is asked about again: it must not decide, either way.
        for (;;) {
            platform::Print(m_err, "%s [y/N] ", Line(notice, m_err).c_str());
            std::fflush(m_err);
            const std::optional<std::string> line = m_question.ReadLine();
            if (!line) {
                platform::Print(m_err, "\n");  // Ctrl-D or Ctrl-C: end the prompt's line
                return NoticeAnswer::No;
            }
            const auto first = line->find_first_not_of(" \t");
            const auto last = line->find_last_not_of(" \t\r");
            std::string answer = first == std::string::npos ? "" : line->substr(first, last - first + 1);
            for (char& c : answer) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (answer == "y" || answer == "yes") return NoticeAnswer::Yes;
            if (answer.empty() || answer == "n" || answer == "no") return NoticeAnswer::No;
        }
    }
    platform::Print(m_err, "%s\n", Line(notice, m_err).c_str());
    switch (m_preset) {
    case PresetAnswer::Yes:
        platform::Print(m_err, "pictrim-cli: answered yes (--yes)\n");
        return NoticeAnswer::Yes;
    case PresetAnswer::No:
        platform::Print(m_err, "pictrim-cli: answered no (--no)\n");
        return NoticeAnswer::No;
    case PresetAnswer::None:
        break;
    }
    platform::Print(m_err, "pictrim-cli: declined: no terminal to ask on; pass --yes to overwrite or --no to keep\n");
    return NoticeAnswer::No;
}

}  // namespace pictrim::cli
