#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "error.h"
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
        Absent,          // nothing: a new file will be made
        Replaceable,     // a regular file (or a link to one) that may be replaced
        SameAsSource,    // the source itself, however spelled
        Unusable,        // a folder, device, dangling link, read-only file or its folder
        FolderUnusable,  // nothing, and its folder is missing or takes no new file
    };
    enum class OpenResult {
        Opened,
        SameAsSource,
        Unusable,
        NameTaken,  // a file appeared that nobody agreed to replace
    };
    enum class CommitResult { Committed, NameTaken, Failed };
    // What Examine found, with the system's reason where it has one.
    struct Finding {
        Finding(State found, Error why = {}) : state(found), error(why) {}
        State state;
        Error error;
    };
    struct Opening {
        Opening(OpenResult outcome, Error why = {}) : result(outcome), error(why) {}
        OpenResult result;
        Error error;
    };

    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Looks without touching anything, so that a question about replacing
    // is asked only where the answer can be carried out.
    static Finding Examine(const std::string& path, const std::optional<FileIdentity>& source);
    // Whether a new file could be made in `folder`, making the folders that
    // are missing first. Touches nothing.
    static bool CanMakeIn(const std::string& folder);
    // Makes the missing folders of `folder`, each made durable in its parent
    // before the next, so that a file reported done inside cannot vanish with
    // its folder in a power cut. False when one cannot be made or flushed.
    static bool MakeFolders(const std::string& folder);
    // The clean-up of abandoned temporary files never takes these: the
    // sources of the run, by identity and by the names of `paths` too,
    // since some file systems (FUSE) number a file anew once the system has
    // forgotten it. Adds to those given before.
    static void SpareFromCleanUp(const std::vector<FileIdentity>& files, const std::vector<std::string>& paths = {});
    // Whether the clean-up must leave `file` alone: the job's `source`, or
    // a source of the run.
    static bool IsSpared(const FileIdentity& file, const FileIdentity& source);
    // Whether a source of the run has this name, in any folder and ignoring
    // case: leaving a look-alike for a later run costs nothing.
    static bool IsSparedName(const std::string& name);

    // A symbolic link is followed: the file it names is the one replaced.
    // Without mayReplace an existing file is never replaced, neither here
    // nor in Commit, however late it appeared. seenAbsent: Examine found
    // nothing there just before, and no question was asked since, so the
    // name is not looked at again (a file that appears meanwhile is found
    // by Commit, which never replaces it).
    Opening Open(const std::string& path, const FileIdentity& source, bool mayReplace, bool seenAbsent = false);
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
    const std::string& TargetPath() const { return m_target; }
    bool Replacing() const { return m_replacing; }
    // The file now in place, once Publish has put it there.
    const FileIdentity& Published() const { return m_published; }
    // False when the folder could not be flushed: what was put in it may not
    // survive a power cut.
    static bool SyncFolder(const std::string& folder);
    // Where one flush of a whole file system makes every file written to it
    // durable (local disks), a group of files takes that one flush instead
    // of one each. The file system of `folder` (its device) when so; none
    // where each file must be flushed on its own (FUSE, network, FAT).
    static std::optional<std::uint64_t> FlushedWhole(const std::string& folder);
    static bool SyncFileSystem(const std::string& folder);
    // FinishFlush once SyncFileSystem has flushed the file's file system
    // since the file was written: false when a write of it failed on its way.
    bool FinishFlushedWhole();

private:
    // The system's handle of the open temporary file, and what a replaced
    // file hands on to the new one (mode and owner; Windows: attributes).
    struct Native;
    struct NativeDeleter {
        void operator()(Native* native) const noexcept;
    };
    using NativePtr = std::unique_ptr<Native, NativeDeleter>;
    static NativePtr NewNative();
    bool IsOpen() const;  // whether a temporary file is open

    // What is under the destination: `target` becomes the file itself,
    // links resolved, and `kept` what it would hand on.
    static Finding Inspect(const std::string& path, const std::optional<FileIdentity>& source, std::string& target,
                           Native& kept);
    // Makes the temporary file in the folder of m_target, which it sets as m_folder.
    Error CreateTemporary(const FileIdentity& source);
    CommitResult LinkIntoPlace();
    // Closes the file LinkIntoPlace put in place; what it is there.
    FileIdentity CloseInPlace();

    NativePtr m_native;  // none before the first Open
    std::string m_target;
    std::string m_folder;
    std::string m_namedTemp;  // empty for an unnamed temporary file
    bool m_replacing = false;
    FileIdentity m_published;
};

}  // namespace pictrim::platform
