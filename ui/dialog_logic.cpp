#include "dialog_logic.h"

#include <algorithm>
#include <string_view>

#include "engine/exec_thread.h"
#include "platform/path_checks.h"

namespace pictrim {

DialogLogic::DialogLogic(DialogWidgets& widgets, platform::NoticeOwner& notices, platform::Window& executeButton)
    : m_widgets(widgets), m_notices(notices), m_executeButton(executeButton) {}

DialogLogic::~DialogLogic() {
    // The widget set's dialog has stopped its jobs (StopRunningJobs) while
    // it could still dismiss their notices; this only makes sure.
    for (const auto& lifetime : m_pThread) lifetime->RequestStop();
    for (const auto& lifetime : m_pThread) lifetime->WaitForEnd();
}

// No file name holds a double quote on Windows, so a pasted text wrapped in
// one pair, with none inside, is a quoted path and never a name of its own.
std::string DialogLogic::PathInField(const std::string& text) {
    const std::string_view view(text);
    if (view.size() >= 2 && view.front() == '"' && view.find('"', 1) == view.size() - 1) {
        return std::string(view.substr(1, view.size() - 2));
    }
    return text;
}

void DialogLogic::OnChangeSrc(std::string text) {
    m_strSrc = PathInField(text);
    UpdateExecuteButton();
}

void DialogLogic::OnChangeDst(std::string text) {
    m_strDst = PathInField(text);
    UpdateExecuteButton();
}

bool DialogLogic::TakesDroppedName(std::string_view firstDropped) {
    constexpr std::string_view kExtension = ".bmp";
    if (firstDropped.size() < kExtension.size()) return false;
    const std::string_view tail = firstDropped.substr(firstDropped.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(),
                      [](char c, char e) { return (c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) == e; });
}

bool DialogLogic::PathsQualify(const std::string& src, const std::string& dst) {
    if (src.empty() || dst.empty()) return false;
    const auto source = platform::IdentityOf(src);
    // A destination that does not exist yet is fine; one that reaches the
    // source through any spelling or link is not.
    return source && platform::IdentityOf(dst) != source;
}

void DialogLogic::UpdateExecuteButton() { m_widgets.SetExecuteEnabled(!m_bJobRunning && PathsQualify(m_strSrc, m_strDst)); }

JobParams DialogLogic::GatherJobParams(int ratioIndex, std::int32_t percent) const {
    return {&m_notices, m_strSrc, m_strDst, &m_executeButton, percent, ratioIndex};
}

bool DialogLogic::OnExecute(int ratioIndex, std::int32_t percent) {
    if (m_bJobRunning) return false;
    // Off before the worker exists, so that a second click or a field
    // changed meanwhile cannot start another job on the same files.
    m_bJobRunning = true;
    m_widgets.ShowBusy(true);
    m_widgets.SetExecuteEnabled(false);
    auto* worker = new CExecThread(GatherJobParams(ratioIndex, percent));
    auto lifetime = worker->Lifetime();
    if (!worker->CreateThread()) {
        delete worker;
        OnJobEnded();
        m_notices.ShowNotice({"スレッドを開始できません。", "Pictrim", platform::NoticeButtons::Ok,
                              platform::NoticeIcon::Exclamation, platform::NoticeKind::Failure});
        return false;
    }
    worker->m_bAutoDelete = true;
    std::erase_if(m_pThread, [](const auto& l) { return l->HasEnded(); });
    m_pThread.push_back(std::move(lifetime));
    worker->ResumeThread();
    return true;
}

void DialogLogic::OnJobEnded() {
    if (!m_bJobRunning) return;
    m_bJobRunning = false;
    m_widgets.ShowBusy(false);
    UpdateExecuteButton();
}

bool DialogLogic::HasRunningJob() const {
    return std::any_of(m_pThread.begin(), m_pThread.end(), [](const auto& l) { return !l->HasEnded(); });
}

void DialogLogic::StopRunningJobs() {
    if (m_pThread.empty()) return;
    // The order matters: a worker waiting on a notice is released first, and
    // no new notice will keep it, so the wait below always ends.
    m_widgets.DismissNotices();
    for (const auto& lifetime : m_pThread) lifetime->RequestStop();
    for (const auto& lifetime : m_pThread) lifetime->WaitForEnd();
    m_pThread.clear();
    OnJobEnded();  // its own word may still be queued, or lost with a stopped job
}

}  // namespace pictrim
