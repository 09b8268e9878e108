#include "replacement_file.h"

#include <mutex>
#include <set>
#include <utility>

#include "utf8_path.h"

// What the destination writer is on every system; the bodies that meet the
// system are in posix/ and win32/.
namespace pictrim::platform {

namespace {

std::mutex g_spareMutex;
std::set<FileIdentity> g_spared;  // sources of the run, whatever their names
std::set<std::string> g_sparedNames;  // their names, folded

}  // namespace

void ReplacementFile::SpareFromCleanUp(const std::vector<FileIdentity>& files, const std::vector<std::string>& paths) {
    std::lock_guard lock(g_spareMutex);
    g_spared.insert(files.begin(), files.end());
    for (const std::string& path : paths) g_sparedNames.insert(FoldedAscii(NameOf(path)));
}

bool ReplacementFile::IsSparedName(const std::string& name) {
    std::lock_guard lock(g_spareMutex);
    return g_sparedNames.count(FoldedAscii(name)) != 0;
}

bool ReplacementFile::IsSpared(const FileIdentity& file, const FileIdentity& source) {
    std::lock_guard lock(g_spareMutex);
    return file == source || g_spared.count(file) != 0;
}

ReplacementFile::Finding ReplacementFile::Examine(const std::string& path, const std::optional<FileIdentity>& source) {
    const NativePtr scratch = NewNative();
    std::string target;
    return Inspect(path, source, target, *scratch);
}

ReplacementFile::Opening ReplacementFile::Open(const std::string& path, const FileIdentity& source, bool mayReplace,
                                               bool seenAbsent) {
    Discard();
    NativePtr native = NewNative();
    std::string target = path;
    const Finding found = seenAbsent ? Finding(State::Absent) : Inspect(path, source, target, *native);
    switch (found.state) {
    case State::SameAsSource: return OpenResult::SameAsSource;
    case State::Unusable:
    case State::FolderUnusable: return {OpenResult::Unusable, found.error};
    case State::Replaceable:
        if (!mayReplace) return OpenResult::NameTaken;
        m_replacing = true;
        break;
    case State::Absent: m_replacing = false; break;
    }
    m_target = std::move(target);
    m_native = std::move(native);
    if (const Error error = CreateTemporary(source)) return {OpenResult::Unusable, error};
    return OpenResult::Opened;
}

ReplacementFile::CommitResult ReplacementFile::Publish() {
    const CommitResult result = IsOpen() ? LinkIntoPlace() : CommitResult::Failed;
    if (result != CommitResult::Committed) {
        Discard();
        return result;
    }
    m_published = CloseInPlace();
    return result;
}

ReplacementFile::CommitResult ReplacementFile::Commit() {
    if (!FinishFlush()) return CommitResult::Failed;
    const CommitResult result = Publish();
    if (result == CommitResult::Committed && !SyncFolder(m_folder)) return CommitResult::Failed;
    return result;
}

ReplacementFile::~ReplacementFile() { Discard(); }

ReplacementFile::ReplacementFile(ReplacementFile&& other) noexcept { *this = std::move(other); }

ReplacementFile& ReplacementFile::operator=(ReplacementFile&& other) noexcept {
    if (this == &other) return *this;
    Discard();
    m_native = std::move(other.m_native);
    m_target = std::move(other.m_target);
    m_folder = std::move(other.m_folder);
    m_namedTemp = std::exchange(other.m_namedTemp, {});
    m_replacing = other.m_replacing;
    m_published = other.m_published;
    return *this;
}

}  // namespace pictrim::platform
