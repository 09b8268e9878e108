#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "batch/batch_events.h"
#include "cli_options.h"
#include "platform/notice.h"
#include "platform/terminal_question.h"

namespace pictrim::cli {

// The terminal of a batch, shared by the jobs running side by side: one
// message at a time, each naming its source, the overwrite questions with
// their "all" and "none", and on a terminal a progress line kept below the
// messages.
class BatchConsole : public batch::Events {
public:
    BatchConsole(const CliOptions& options, std::size_t files);

    void Started(const batch::Item& item) override;
    void Processed(const batch::Item& item) override;
    void Finished(const batch::Item& item, batch::Outcome outcome, const std::string& reason,
                  batch::SkipCause cause) override;
    Answer AskOverwrite(const batch::Item& item, const std::string& question) override;
    // Answers the question on screen with No, and asks no other.
    void CancelQuestions() override;
    // Clears the progress line and prints the summary.
    void Summary(const std::string& line);

private:
    void Print(std::FILE* stream, const std::string& line);  // m_mutex held
    std::string Shown(std::FILE* stream, const std::string& line) const;
    void DrawProgress(bool force);                           // m_mutex held
    void ClearProgress();                                    // m_mutex held

    const CliOptions& m_options;
    std::mutex m_mutex;     // output and the state below
    bool m_questionUp = false;
    bool m_questionsCancelled = false;
    std::vector<std::pair<std::FILE*, std::string>> m_deferred;  // printed once the question is answered
    platform::TerminalQuestion m_question;
    const bool m_askOnTerminal;
    const bool m_progress;
    const bool m_stdoutIsTerminal;

    const std::size_t m_files;
    std::size_t m_done = 0;
    std::uint64_t m_bytesDone = 0;
    std::string m_current;
    bool m_progressShown = false;
    const std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastDraw{};
};

}  // namespace pictrim::cli
