#include "replacement_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <utility>

#include "internal/temporary_names.h"
#include "posix_identity.h"

namespace pictrim::platform {

struct ReplacementFile::Native {
    int fd = -1;
    // What a replaced file hands on to the new one.
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

void ReplacementFile::NativeDeleter::operator()(Native* native) const noexcept { delete native; }

ReplacementFile::NativePtr ReplacementFile::NewNative() { return NativePtr(new Native); }

bool ReplacementFile::IsOpen() const { return m_native && m_native->fd >= 0; }

namespace {

std::string TempNameIn(const std::string& folder, std::uint64_t inode) {
    return folder + '/' + LastingTemporaryName(inode);
}

// Where hard links work a fresh file is given a lasting name at once,
// before anything is written, once its writer holds the lock.
std::string FreshNameIn(const std::string& folder) { return folder + '/' + FreshTemporaryName(); }

// True for a file this program made and abandoned: one TempNameIn named
// after its own inode, or one FreshNameIn named after the moment it was
// made, last changed (by the job that wrote it, if at all) within a day
// after that and not in the last minute. A look-alike of somebody else's
// would need its own inode, or its own times, in its name.
bool IsAbandonedTemporary(const char* name, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    if (const auto inode = IndexInTemporaryName(name)) return *inode == st.st_ino;
    const auto made = TimeInFreshName(name);
    if (!made) return false;
    constexpr long long kDay = 24 * 60 * 60;
    const auto changed = static_cast<long long>(st.st_mtim.tv_sec), named = static_cast<long long>(*made);
    // FAT keeps times to 2 seconds.
    return changed >= named - 2 && changed <= named + kDay && std::time(nullptr) - changed > 60;
}

// A run killed while its file had a name (the moment between naming and
// renaming it, or all along where the file system has no unnamed files)
// leaves that file behind; a later run in the folder removes it. Only a
// file IsAbandonedTemporary recognises is taken, only when no writer holds
// its lock (a live one is locked before it gets a lasting name), and never
// a source of this run or this job's `source` (the job holds it open, so
// its number lasts). Once per folder and process: a folder of thousands of
// files is listed once, not once per file, and opened once per spelling.
void RemoveAbandonedTemporaries(const std::string& folder, const FileIdentity& source) {
    if (!FirstLookUnder(folder)) return;
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        LookAgainUnder(folder);
        return;
    }
    struct stat st {};
    const bool first = ::fstat(dfd, &st) == 0 && FirstLookAt(IdentityOf(st));
    DIR* dir = first ? ::fdopendir(dfd) : nullptr;
    if (dir == nullptr) {
        ::close(dfd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kTemporaryPrefix, sizeof kTemporaryPrefix - 1) != 0 ||
            ReplacementFile::IsSparedName(entry->d_name)) {
            continue;
        }
        const int fd = ::openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        bool spared = true;
        if (::fstat(fd, &st) == 0 && IsAbandonedTemporary(entry->d_name, st)) {
            spared = ReplacementFile::IsSpared(IdentityOf(st), source);
        }
        if (!spared && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ::unlinkat(dfd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);  // closes dfd too
}

// The kernel's answer, not the mode bits: it knows about root, ACLs,
// read-only mounts and immutable folders.
bool FolderTakesNewFiles(const std::string& folder) {
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Renames `from` to `to` unless `to` exists (NameTaken then), with the
// strongest means the file system has: a rename that refuses a taken name;
// else a hard link, which refuses one too; else (FAT through FUSE, for
// one) a plain rename right after seeing the name free, which only a file
// made at that very instant by another program could lose to.
Error PlaceWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return LastError();
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return {};
    }
    if (errno == EEXIST) return LastError();
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return {Error::Kind::NameTaken};
    if (errno != ENOENT || ::rename(from.c_str(), to.c_str()) != 0) return LastError();
    return {};
}

// Opens `folder` and flushes it, or its file system, through it: false
// when it cannot be opened or `flush` fails.
template <class Flush>
bool FlushThrough(const std::string& folder, Flush flush) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        LastError();  // for a shortage of descriptors to be noted
        return false;
    }
    const bool flushed = flush(dfd);
    ::close(dfd);
    return flushed;
}

}  // namespace

bool ReplacementFile::SyncFolder(const std::string& folder) {
    return FlushThrough(folder, [](int dfd) { return ::fsync(dfd) == 0; });
}

std::optional<std::uint64_t> ReplacementFile::FlushedWhole(const std::string& folder) {
    // File systems whose syncfs writes back every file, waits for it, and
    // commits with a flush of the disk's cache. FUSE may answer it without
    // asking its server, FAT flushes no cache, a network one its own way.
    constexpr long kExt4 = 0xEF53, kXfs = 0x58465342, kBtrfs = 0x9123683E, kTmpfs = 0x01021994;
    struct statfs info {};
    struct stat st {};
    if (::statfs(folder.c_str(), &info) != 0 || ::stat(folder.c_str(), &st) != 0) return std::nullopt;
    const long type = static_cast<long>(info.f_type);
    if (type != kExt4 && type != kXfs && type != kBtrfs && type != kTmpfs) return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
}

bool ReplacementFile::SyncFileSystem(const std::string& folder) {
    // Twice: ext4 without a journal writes its inode tables and bitmaps
    // after the flush of the disk's cache that ends the first, where a name
    // made next could overtake them; the second flushes them.
    return FlushThrough(folder, [](int dfd) { return ::syncfs(dfd) == 0 && ::syncfs(dfd) == 0; });
}

bool ReplacementFile::CanMakeIn(const std::string& folder) {
    struct stat st {};
    std::string at = folder;
    while (::stat(at.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        const std::string parent = FolderOf(at);
        if (parent == at) return false;
        at = parent;
    }
    return S_ISDIR(st.st_mode) && FolderTakesNewFiles(at);
}

bool ReplacementFile::MakeFolders(const std::string& folder) {
    std::vector<std::string> missing;  // innermost first
    struct stat st {};
    for (std::string at = folder; ::stat(at.c_str(), &st) != 0; at = FolderOf(at)) {
        if (errno != ENOENT || FolderOf(at) == at) return false;
        missing.push_back(at);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0) {
            if (errno == EEXIST) continue;  // made meanwhile: its maker flushes it
            return false;
        }
        if (!SyncFolder(FolderOf(*it))) return false;
    }
    return true;
}

ReplacementFile::Finding ReplacementFile::Inspect(const std::string& path, const std::optional<FileIdentity>& source,
                                                  std::string& target, Native& kept) {
    struct stat st {};
    if (path.empty() || !HasFileName(path)) return State::Unusable;
    target = path;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return State::Unusable;
        return FolderTakesNewFiles(FolderOf(path)) ? State::Absent : State::FolderUnusable;
    }
    if (S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) return State::Unusable;  // dangling or looping link
        target = resolved;
        std::free(resolved);
    }
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return State::Unusable;
    if (source && StableIdentityOf(target, st) == *source) {
        return State::SameAsSource;
    }
    // Ask the kernel rather than the mode bits: it knows about root, ACLs,
    // read-only mounts and immutable files. Nothing is truncated here. The
    // folder must take a new name too, since the file is replaced by one.
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return {State::Unusable, LastError()};
    ::close(probe);
    const std::string folder = FolderOf(target);
    struct stat folderStat {};
    if (!FolderTakesNewFiles(folder) || ::stat(folder.c_str(), &folderStat) != 0) return State::Unusable;
    // In a sticky folder such as /tmp only the owner of the file or of the
    // folder may replace a file; writable to all does not mean ours to rename over.
    const uid_t me = ::geteuid();
    if ((folderStat.st_mode & S_ISVTX) != 0 && me != 0 && st.st_uid != me && folderStat.st_uid != me) {
        return State::Unusable;
    }
    kept.mode = st.st_mode & 07777;
    kept.uid = st.st_uid;
    kept.gid = st.st_gid;
    return State::Replaceable;
}

Error ReplacementFile::CreateTemporary(const FileIdentity& source) {
    m_folder = FolderOf(m_target);
    RemoveAbandonedTemporaries(m_folder, source);
    int& fd = m_native->fd;
    static const bool procUsable = ::access("/proc/self/fd", X_OK) == 0;
    if (procUsable) fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (procUsable && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return LastError();
        // No unnamed files here: a hidden named one, removed on any failure.
        for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
            m_namedTemp = FreshNameIn(m_folder);
            // 0666: the kernel applies the umask, as for any new file.
            fd = ::open(m_namedTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) {
            const Error error = LastError();
            m_namedTemp.clear();
            return error;
        }
    }
    // Held until the file is closed: it tells a later run's clean-up that
    // the file, once named, is alive. An unnamed new file is never named
    // but its destination's.
    if (!m_namedTemp.empty() || m_replacing) ::flock(fd, LOCK_EX | LOCK_NB);
    struct stat st {};
    if (!m_namedTemp.empty() && ::fstat(fd, &st) == 0) {
        // Locked now: the name that proves the file ours to a later run's
        // clean-up after a kill, where inode numbers last (a kill between
        // link and unlink leaves two names, both of which prove it).
        const std::string lasting = TempNameIn(m_folder, st.st_ino);
        if (::link(m_namedTemp.c_str(), lasting.c_str()) == 0) {
            ::unlink(m_namedTemp.c_str());
            m_namedTemp = lasting;
        }
    }
    if (m_replacing) {
        // A replaced file keeps its owner (where we may set it) and its mode.
        if (::fchown(fd, m_native->uid, m_native->gid) != 0) { /* not ours to change: keep the new owner */ }
        ::fchmod(fd, m_native->mode);
    }
    return {};
}

bool ReplacementFile::Reserve(std::uint64_t bytes) {
    if (!IsOpen()) return false;
    const int fd = m_native->fd;
    if (bytes == 0 || ::fallocate(fd, 0, 0, static_cast<off_t>(bytes)) == 0) return true;
    return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;  // else: not supported here, write as usual
}

bool ReplacementFile::Write(const void* data, std::size_t count) {
    if (!IsOpen()) return false;
    const int fd = m_native->fd;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const std::size_t chunk = std::min<std::size_t>(count, std::size_t{1} << 30);
        const ssize_t n = ::write(fd, p, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        p += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

ReplacementFile::CommitResult ReplacementFile::LinkIntoPlace() {
    if (!m_namedTemp.empty()) {
        if (!m_replacing) {
            // A new file takes its name only while the name is free: one that
            // appeared meanwhile belongs to somebody who was never asked.
            if (const Error error = PlaceWithoutReplacing(m_namedTemp, m_target)) {
                return error.kind == Error::Kind::NameTaken ? CommitResult::NameTaken : CommitResult::Failed;
            }
        } else if (::rename(m_namedTemp.c_str(), m_target.c_str()) != 0) {
            return CommitResult::Failed;
        }
        m_namedTemp.clear();
        return CommitResult::Committed;
    }
    const int fd = m_native->fd;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (!m_replacing) {
        // A new file appears under its name complete, in one step.
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return CommitResult::Committed;
        }
        return errno == EEXIST ? CommitResult::NameTaken : CommitResult::Failed;
    }
    // linkat cannot replace a name, rename can: give the file a name first.
    struct stat st {};
    if (::fstat(fd, &st) != 0) return CommitResult::Failed;
    std::string temp;
    int rc = -1;
    for (int attempt = 0; attempt < 16 && rc != 0; ++attempt) {
        temp = TempNameIn(m_folder, st.st_ino);
        rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno != EEXIST) return CommitResult::Failed;
    }
    if (rc != 0) return CommitResult::Failed;
    if (::rename(temp.c_str(), m_target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return CommitResult::Failed;
    }
    return CommitResult::Committed;
}

void ReplacementFile::SetModificationTime(const FileTime& time) {
    if (!IsOpen()) return;
    const int fd = m_native->fd;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)}};
    ::futimens(fd, times);
}

void ReplacementFile::StartFlush() {
    if (IsOpen()) ::sync_file_range(m_native->fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool ReplacementFile::FinishFlush() {
    // Errors of delayed allocation and of network file systems surface here.
    if (IsOpen() && ::fdatasync(m_native->fd) == 0) return true;
    Discard();
    return false;
}

bool ReplacementFile::FinishFlushedWhole() {
    // The file's own record of failed writes, which syncfs does not tell
    // (it tells those of the file system since its folder was opened).
    if (IsOpen() && ::sync_file_range(m_native->fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE) == 0) return true;
    Discard();
    return false;
}

FileIdentity ReplacementFile::CloseInPlace() {
    struct stat st {};
    FileIdentity placed;
    if (::fstat(m_native->fd, &st) == 0) placed = IdentityOf(st);
    ::close(std::exchange(m_native->fd, -1));  // the data is already on disk; close has nothing left to report
    return placed;
}

void ReplacementFile::Discard() {
    if (IsOpen()) ::close(std::exchange(m_native->fd, -1));
    if (!m_namedTemp.empty()) ::unlink(m_namedTemp.c_str());
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
