#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "path_checks.h"

namespace pictrim::platform {

// Writes a new version of a file without ever exposing a partial one. The
// bytes go to a temporary file in the destination's folder (unnamed, or
// marked for deletion, where the system allows) and replace the destination only in
// Commit, after all of them are written and flushed. Until then, and after
// any failure, the destination is exactly as it was and no temporary file is
// left behind.
class ReplacementFile {
public:
    // What is under a destination path, as far as writing it goes.
    enum class State {
        Absent,        // nothing: a new file will be made
        Replaceable,   // a regular file (or a link to one) that may be replaced
        SameAsSource,  // the source itself, however spelled
        Unusable,      // a folder, device, dangling link, read-only file or folder
    };
    enum class OpenResult {
        Opened,
        SameAsSource,
        Unusable,
        NameTaken,  // a file appeared that nobody agreed to replace
    };
    enum class CommitResult { Committed, NameTaken, Failed };

    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Looks without touching anything, so that a question about replacing
    // is asked only where the answer can be carried out.
    static State Examine(const std::string& path, const std::optional<FileIdentity>& source);

    // A symbolic link is followed: the file it names is the one replaced.
    // Without mayReplace an existing file is never replaced, neither here
    // nor in Commit, however late it appeared.
    OpenResult Open(const std::string& path, const FileIdentity& source, bool mayReplace);
    // Claims the space for `bytes` up front where the file system can, so
    // that a disk too full is found before any work is done. False only when
    // the space is known not to be there.
    bool Reserve(std::uint64_t bytes);
    bool Write(const void* data, std::size_t count);
    // The new file's modification time, as `touch -r` would set it.
    void SetModificationTime(const FileTime& time);

    // Flushes the data, puts the file in place, flushes the folder.
    CommitResult Commit();
    void Discard();

    // Commit in steps, for many files at once: StartFlush lets the disk
    // begin at once, FinishFlush waits for the data to be durable, Publish
    // puts the file in place (durable once its folder is flushed).
    void StartFlush();
    bool FinishFlush();
    CommitResult Publish();
    const std::string& Folder() const { return m_folder; }
    static void SyncFolder(const std::string& folder);

private:
    struct Target;
    static State Inspect(const std::string& path, const std::optional<FileIdentity>& source, Target& target);
    bool CreateTemporary();
    CommitResult LinkIntoPlace();
    CommitResult PlaceNewName(const std::string& from);

    // The system's own handle of the open temporary file (a descriptor, a
    // HANDLE), -1 when none.
    std::intptr_t m_fd = -1;
    std::string m_target;
    std::string m_folder;
    std::string m_namedTemp;  // empty for an unnamed temporary file
    bool m_replacing = false;
    // What the replaced file keeps: mode, owner and group; Windows: attributes.
    std::uint32_t m_mode = 0;
    std::uint32_t m_uid = 0;
    std::uint32_t m_gid = 0;
};

}  // namespace pictrim::platform
