#include "batch_console.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/standard_streams.h"
#include "terminal_notices.h"

namespace pictrim::cli {

namespace {

using Preset = cli::TerminalNotices::PresetAnswer;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// The end of a name in at most `columns` terminal columns, control
// characters shown as '?'. Characters past ASCII count two columns: most
// of them (Japanese) take two, and a shorter line is harmless.
std::string FitToColumns(const std::string& text, std::size_t columns) {
    const std::string name = cli::ShownOnTerminal(text);
    std::vector<std::string> chars;
    std::size_t total = 0;
    for (std::size_t i = 0; i < name.size();) {
        const auto lead = static_cast<unsigned char>(name[i]);
        const std::size_t most = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        // Only continuation bytes belong to a character: a name that is not
        // UTF-8 must not carry the next character off with it.
        std::size_t n = 1;
        while (n < most && i + n < name.size() && (static_cast<unsigned char>(name[i + n]) & 0xC0) == 0x80) ++n;
        chars.push_back(name.substr(i, n));
        total += n > 1 ? 2 : 1;
        i += n;
    }
    if (total <= columns) {
        std::string whole;
        for (const std::string& c : chars) whole += c;
        return whole;
    }
    if (columns < 4) return {};
    std::string tail;
    std::size_t used = 3;  // the "..." that shows the cut
    for (auto it = chars.rbegin(); it != chars.rend() && used + (it->size() > 1 ? 2 : 1) <= columns; ++it) {
        used += it->size() > 1 ? 2 : 1;
        tail.insert(0, *it);
    }
    return "..." + tail;
}

}  // namespace

BatchConsole::BatchConsole(const CliOptions& options, std::size_t files)
    : m_options(options),
      m_question(stdin),
      m_askOnTerminal(options.answer == Preset::None && platform::IsTerminal(stdin)),
      m_progress(platform::IsTerminal(stderr)),
      m_stdoutIsTerminal(platform::IsTerminal(stdout)),
      m_files(files) {}

std::string BatchConsole::Shown(std::FILE* stream, const std::string& line) const {
    const bool terminal = stream == stdout ? m_stdoutIsTerminal : m_progress;  // m_progress: stderr is one
    return terminal ? cli::ShownOnTerminal(line) : line;
}

void BatchConsole::Print(std::FILE* stream, const std::string& line) {
    if (m_questionUp) {  // not into the middle of what is being typed
        m_deferred.emplace_back(stream, Shown(stream, line));
        return;
    }
    ClearProgress();
    platform::Print(stream, "%s\n", Shown(stream, line).c_str());
    std::fflush(stream);
    DrawProgress(true);
}

void BatchConsole::Finished(const batch::Item& item, batch::Outcome outcome, const std::string& reason,
                            batch::SkipCause cause) {
    std::lock_guard lock(m_mutex);
    switch (outcome) {
    case batch::Outcome::Converted:
        if (!m_options.quiet) Print(stdout, "Pictrim: " + item.source + " -> " + item.destination + ": 完了しました。");
        break;
    case batch::Outcome::Skipped:
        if (m_options.quiet || cause == batch::SkipCause::Answer) break;
        Print(stderr, "pictrim-cli: " + item.source + ": skipped: " + item.destination + " exists " +
                          (cause == batch::SkipCause::Policy ? "(--no)" : "(none)"));
        break;
    case batch::Outcome::Refused:
    case batch::Outcome::Failed: Print(stderr, "Pictrim: " + item.source + ": " + reason); break;
    case batch::Outcome::NotDone: break;
    }
}

batch::Events::Answer BatchConsole::AskOverwrite(const batch::Item& item, const std::string& question) {
    {
        std::lock_guard lock(m_mutex);
        if (m_questionsCancelled) return Answer::Cancelled;  // interrupted: no new question
        if (!m_askOnTerminal) {
            if (!m_options.quiet) {
                Print(stderr, "pictrim-cli: " + item.source + ": skipped: " + item.destination +
                                  " exists (no terminal to ask on; --yes replaces)");
            }
            return Answer::No;
        }
        ClearProgress();
        m_questionUp = true;
    }
    // The output lock is not held while the user thinks: the other jobs go
    // on, and their messages wait until the answer.
    std::string answer;
    bool cancelled = false;
    while (answer.empty()) {
        const std::string prompt = "Pictrim: " + item.source + ": " + question;
        platform::Print(stderr, "%s [y]es/[N]o/[a]ll/none? ", Shown(stderr, prompt).c_str());
        std::fflush(stderr);
        const auto line = m_question.ReadLine();
        if (!line) {
            platform::Print(stderr, "\n");
            cancelled = m_question.Cancelled();
            answer = "none";  // no more input: nothing more can be answered
            break;
        }
        answer = Lower(*line);
        if (answer.empty()) answer = "no";
        const bool known = answer == "y" || answer == "yes" || answer == "n" || answer == "no" || answer == "a" ||
                           answer == "all" || answer == "none";
        if (!known) answer.clear();  // asked again: a typo must not decide
    }
    std::lock_guard lock(m_mutex);
    m_questionUp = false;
    for (const auto& [stream, text] : m_deferred) platform::Print(stream, "%s\n", text.c_str());
    m_deferred.clear();
    std::fflush(stdout);
    if (cancelled) return Answer::Cancelled;
    DrawProgress(true);
    if (answer == "a" || answer == "all") return Answer::All;
    if (answer == "none") return Answer::None;
    return answer == "y" || answer == "yes" ? Answer::Yes : Answer::No;
}

void BatchConsole::CancelQuestions() {
    {
        std::lock_guard lock(m_mutex);
        m_questionsCancelled = true;
    }
    m_question.Cancel();
}

void BatchConsole::Started(const batch::Item& item) {
    std::lock_guard lock(m_mutex);
    m_current = item.source;
    DrawProgress(true);  // a big file may follow: its name must not wait for the next event
}

void BatchConsole::Processed(const batch::Item& item) {
    std::lock_guard lock(m_mutex);
    ++m_done;
    m_bytesDone += item.bytes;
    DrawProgress(m_done == m_files);
}

void BatchConsole::Summary(const std::string& line) {
    std::lock_guard lock(m_mutex);
    ClearProgress();
    platform::Print(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void BatchConsole::DrawProgress(bool force) {
    if (!m_progress || m_questionUp) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastDraw < kRedrawEvery) return;
    m_lastDraw = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? static_cast<double>(m_bytesDone) / seconds / 1e6 : 0.0;
    char head[64];
    std::snprintf(head, sizeof head, "[%zu/%zu] %.1f MB/s ", m_done, m_files, rate);
    // \r and "erase to the end of the line" rewrite one line in place: it
    // must not wrap, so the name is cut to what the terminal has left.
    const std::size_t known = platform::TerminalColumns(stderr);
    const std::size_t columns = known > 0 ? known : 80;
    const std::size_t room = columns > std::strlen(head) + 1 ? columns - std::strlen(head) - 1 : 0;
    platform::Print(stderr, "\r\x1b[K%s%s", head, FitToColumns(m_current, room).c_str());
    std::fflush(stderr);
    m_progressShown = true;
}

void BatchConsole::ClearProgress() {
    if (!m_progressShown) return;
    platform::Print(stderr, "\r\x1b[K");
    m_progressShown = false;
}

}  // namespace pictrim::cli
