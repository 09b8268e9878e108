#include "replacement_file.h"

#include <cerrno>
#include <climits>
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
#include <mutex>
#include <random>
#include <set>
#include <utility>

#include "open_failures.h"
#include "posix_identity.h"

namespace pictrim::platform {

namespace {

constexpr char kTempPrefix[] = ".pictrim-";
constexpr std::size_t kPrefixLength = sizeof kTempPrefix - 1;

std::uint64_t RandomBits() {
    thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    return random();
}

// ".pictrim-<inode>-<random>", in hex: short and independent of the
// destination's name, so that any name the file system takes can be
// replaced. The inode lets a later clean-up tell a file this program named
// from anybody's file that merely looks like one.
std::string TempNameIn(const std::string& folder, std::uint64_t inode) {
    char name[48];
    std::snprintf(name, sizeof name, "/%s%016llx-%08x", kTempPrefix, static_cast<unsigned long long>(inode),
                  static_cast<unsigned>(RandomBits()));
    return folder + name;
}

constexpr char kFreshPrefix[] = ".pictrim-new-";
constexpr std::size_t kFreshPrefixLength = sizeof kFreshPrefix - 1;

// A named temporary file is created under this name, which carries the
// time it was made: ".pictrim-new-<seconds>-<random>". Where hard links
// work it is given a TempNameIn name at once, before anything is written,
// once its writer holds the lock. Elsewhere (FAT) inode numbers are made
// up anew at every mount and the file keeps this name.
std::string FreshNameIn(const std::string& folder) {
    char name[64];
    std::snprintf(name, sizeof name, "/%s%016llx-%08x", kFreshPrefix,
                  static_cast<unsigned long long>(std::time(nullptr)), static_cast<unsigned>(RandomBits()));
    return folder + name;
}

bool IsHex(const char* digits, std::size_t count) {
    return std::all_of(digits, digits + count, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The 16 hex digits after `prefix` in a name of the form
// "<prefix><16 hex>-<8 hex>", or none.
std::optional<std::uint64_t> NumberIn(const char* name, const char* prefix, std::size_t prefixLength) {
    if (std::strncmp(name, prefix, prefixLength) != 0 || std::strlen(name) != prefixLength + 16 + 1 + 8) {
        return std::nullopt;
    }
    const char* digits = name + prefixLength;
    if (!IsHex(digits, 16) || digits[16] != '-' || !IsHex(digits + 17, 8)) return std::nullopt;
    return std::strtoull(std::string(digits, 16).c_str(), nullptr, 16);
}

// True for a file this program made and abandoned: one TempNameIn named
// after its own inode, or one FreshNameIn named after the moment it was
// made, last changed (by the job that wrote it, if at all) within a day
// after that and not in the last minute. A look-alike of somebody else's
// would need its own inode, or its own times, in its name.
bool IsAbandonedTemporary(const char* name, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return false;
    if (const auto inode = NumberIn(name, kTempPrefix, kPrefixLength)) return *inode == st.st_ino;
    const auto made = NumberIn(name, kFreshPrefix, kFreshPrefixLength);
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
    static std::mutex mutex;
    static std::set<FileIdentity> done;
    static std::set<std::string> spellings;
    {
        std::lock_guard lock(mutex);
        if (!spellings.insert(folder).second) return;
    }
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        std::lock_guard lock(mutex);
        spellings.erase(folder);  // looked at again by the next file, as before
        return;
    }
    struct stat st {};
    bool first = false;
    if (::fstat(dfd, &st) == 0) {
        std::lock_guard lock(mutex);
        first = done.insert(IdentityOf(st)).second;
    }
    DIR* dir = first ? ::fdopendir(dfd) : nullptr;
    if (dir == nullptr) {
        ::close(dfd);
        return;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strncmp(entry->d_name, kTempPrefix, kPrefixLength) != 0 ||
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

}  // namespace

bool ReplacementFile::SyncFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        NoteOpenFailure(errno);
        return false;
    }
    const bool synced = ::fsync(dfd) == 0;
    ::close(dfd);
    return synced;
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
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        NoteOpenFailure(errno);
        return false;
    }
    // Twice: ext4 without a journal writes its inode tables and bitmaps
    // after the flush of the disk's cache that ends the first, where a name
    // made next could overtake them; the second flushes them.
    const bool synced = ::syncfs(dfd) == 0 && ::syncfs(dfd) == 0;
    ::close(dfd);
    return synced;
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

ReplacementFile::State ReplacementFile::Inspect(const std::string& path, const std::optional<FileIdentity>& source,
                                                Target& target) {
    struct stat st {};
    if (path.empty() || !HasFileName(path)) return State::Unusable;
    target.path = path;
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return State::Unusable;
        return FolderTakesNewFiles(FolderOf(path)) ? State::Absent : State::FolderUnusable;
    }
    if (S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) return State::Unusable;  // dangling or looping link
        target.path = resolved;
        std::free(resolved);
    }
    if (::stat(target.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return State::Unusable;
    if (source && StableIdentityOf(target.path, st) == *source) {
        return State::SameAsSource;
    }
    // Ask the kernel rather than the mode bits: it knows about root, ACLs,
    // read-only mounts and immutable files. Nothing is truncated here. The
    // folder must take a new name too, since the file is replaced by one.
    const int probe = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) {
        NoteOpenFailure(errno);
        return State::Unusable;
    }
    ::close(probe);
    const std::string folder = FolderOf(target.path);
    struct stat folderStat {};
    if (!FolderTakesNewFiles(folder) || ::stat(folder.c_str(), &folderStat) != 0) return State::Unusable;
    // In a sticky folder such as /tmp only the owner of the file or of the
    // folder may replace a file; writable to all does not mean ours to rename over.
    const uid_t me = ::geteuid();
    if ((folderStat.st_mode & S_ISVTX) != 0 && me != 0 && st.st_uid != me && folderStat.st_uid != me) {
        return State::Unusable;
    }
    target.mode = st.st_mode & 07777;
    target.uid = st.st_uid;
    target.gid = st.st_gid;
    return State::Replaceable;
}

bool ReplacementFile::CreateTemporary(const FileIdentity& source) {
    m_folder = FolderOf(m_target);
    RemoveAbandonedTemporaries(m_folder, source);
    static const bool procUsable = ::access("/proc/self/fd", X_OK) == 0;
    if (procUsable) m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (procUsable && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            NoteOpenFailure(errno);
            return false;
        }
        // No unnamed files here: a hidden named one, removed on any failure.
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_namedTemp = FreshNameIn(m_folder);
            // 0666: the kernel applies the umask, as for any new file.
            m_fd = ::open(m_namedTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (m_fd < 0 && errno != EEXIST) break;
        }
        if (m_fd < 0) {
            NoteOpenFailure(errno);
            m_namedTemp.clear();
            return false;
        }
    }
    // Held until the file is closed: it tells a later run's clean-up that
    // the file, once named, is alive. An unnamed new file is never named
    // but its destination's.
    if (!m_namedTemp.empty() || m_replacing) ::flock(m_fd, LOCK_EX | LOCK_NB);
    struct stat st {};
    if (!m_namedTemp.empty() && ::fstat(m_fd, &st) == 0) {
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
        if (::fchown(m_fd, m_uid, m_gid) != 0) { /* not ours to change: keep the new owner */ }
        ::fchmod(m_fd, m_mode);
    }
    return true;
}

bool ReplacementFile::Reserve(std::uint64_t bytes) {
    if (m_fd < 0) return false;
    if (bytes == 0 || ::fallocate(m_fd, 0, 0, static_cast<off_t>(bytes)) == 0) return true;
    return errno != ENOSPC && errno != EDQUOT && errno != EFBIG;  // else: not supported here, write as usual
}

bool ReplacementFile::Write(const void* data, std::size_t count) {
    if (m_fd < 0) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        const std::size_t chunk = std::min<std::size_t>(count, std::size_t{1} << 30);
        const ssize_t n = ::write(m_fd, p, chunk);
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

// A new file takes its name only while the name is free: one that appeared
// meanwhile belongs to somebody who was never asked.
ReplacementFile::CommitResult ReplacementFile::PlaceNewName(const std::string& from) {
    if (!PlaceWithoutReplacing(from, m_target)) return errno == EEXIST ? CommitResult::NameTaken : CommitResult::Failed;
    m_namedTemp.clear();
    return CommitResult::Committed;
}

// Renames `from` to `to` unless `to` exists (errno EEXIST then), with the
// strongest means the file system has: a rename that refuses a taken name;
// else a hard link, which refuses one too; else (FAT through FUSE, for
// one) a plain rename right after seeing the name free, which only a file
// made at that very instant by another program could lose to.
bool ReplacementFile::PlaceWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::rename(from.c_str(), to.c_str()) == 0;
}

ReplacementFile::CommitResult ReplacementFile::LinkIntoPlace() {
    if (!m_namedTemp.empty()) {
        if (!m_replacing) return PlaceNewName(m_namedTemp);
        if (::rename(m_namedTemp.c_str(), m_target.c_str()) != 0) return CommitResult::Failed;
        m_namedTemp.clear();
        return CommitResult::Committed;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (!m_replacing) {
        // A new file appears under its name complete, in one step.
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return CommitResult::Committed;
        }
        return errno == EEXIST ? CommitResult::NameTaken : CommitResult::Failed;
    }
    // linkat cannot replace a name, rename can: give the file a name first.
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return CommitResult::Failed;
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
    if (m_fd < 0) return;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(time.seconds), static_cast<long>(time.nanoseconds)}};
    ::futimens(m_fd, times);
}

void ReplacementFile::StartFlush() {
    if (m_fd >= 0) ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool ReplacementFile::FinishFlush() {
    // Errors of delayed allocation and of network file systems surface here.
    if (m_fd >= 0 && ::fdatasync(m_fd) == 0) return true;
    Discard();
    return false;
}

bool ReplacementFile::FinishFlushedWhole() {
    // The file's own record of failed writes, which syncfs does not tell
    // (it tells those of the file system since its folder was opened).
    if (m_fd >= 0 && ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE) == 0) return true;
    Discard();
    return false;
}

ReplacementFile::CommitResult ReplacementFile::Publish() {
    const CommitResult result = m_fd >= 0 ? LinkIntoPlace() : CommitResult::Failed;
    if (result != CommitResult::Committed) {
        Discard();
        return result;
    }
    struct stat st {};
    if (::fstat(m_fd, &st) == 0) m_published = IdentityOf(st);
    ::close(std::exchange(m_fd, -1));  // the data is already on disk; close has nothing left to report
    return result;
}

ReplacementFile::CommitResult ReplacementFile::Commit() {
    if (!FinishFlush()) return CommitResult::Failed;
    const CommitResult result = Publish();
    if (result == CommitResult::Committed && !SyncFolder(m_folder)) return CommitResult::Failed;
    return result;
}

void ReplacementFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_namedTemp.empty()) ::unlink(m_namedTemp.c_str());
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
