#include "replacement_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <random>

namespace pictrim::platform {

struct ReplacementFile::Target {
    std::string path;  // the file itself, links resolved
    mode_t mode = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};

namespace {

mode_t CurrentUmask() {
    // Reading the umask through umask() would change it for a moment under
    // other threads' feet; the kernel reports it here since Linux 4.7.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

// Short and independent of the destination's name, so that any name the
// file system takes can be replaced: a name near its 255-byte limit leaves
// no room for a suffix.
std::string TempNameIn(const std::string& folder) {
    thread_local std::mt19937_64 random{std::random_device{}() ^ static_cast<std::uint64_t>(::getpid())};
    char name[32];
    std::snprintf(name, sizeof name, "/.pictrim-%016llx", static_cast<unsigned long long>(random()));
    return folder + name;
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string(1, '.');  // not ".": GCC 12 warns falsely (-Wrestrict)
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool HasFileName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return !base.empty() && base != "." && base != "..";
}

void SyncFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

ReplacementFile::State ReplacementFile::Examine(const std::string& path, const std::optional<FileIdentity>& source) {
    Target target;
    return Inspect(path, source, target);
}

ReplacementFile::State ReplacementFile::Inspect(const std::string& path, const std::optional<FileIdentity>& source,
                                                Target& target) {
    struct stat st {};
    if (path.empty() || !HasFileName(path)) return State::Unusable;
    target.path = path;
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? State::Absent : State::Unusable;
    if (S_ISLNK(st.st_mode)) {
        char* resolved = ::realpath(path.c_str(), nullptr);
        if (resolved == nullptr) return State::Unusable;  // dangling or looping link
        target.path = resolved;
        std::free(resolved);
    }
    if (::stat(target.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return State::Unusable;
    if (source && FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} == *source) {
        return State::SameAsSource;
    }
    // Ask the kernel rather than the mode bits: it knows about root, ACLs,
    // read-only mounts and immutable files. Nothing is truncated here. The
    // folder must take a new name too, since the file is replaced by one.
    const int probe = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return State::Unusable;
    ::close(probe);
    if (::faccessat(AT_FDCWD, FolderOf(target.path).c_str(), W_OK | X_OK, AT_EACCESS) != 0) return State::Unusable;
    target.mode = st.st_mode & 07777;
    target.uid = st.st_uid;
    target.gid = st.st_gid;
    return State::Replaceable;
}

ReplacementFile::OpenResult ReplacementFile::Open(const std::string& path, const FileIdentity& source,
                                                  bool mayReplace) {
    Discard();
    Target target;
    switch (Inspect(path, source, target)) {
    case State::SameAsSource: return OpenResult::SameAsSource;
    case State::Unusable: return OpenResult::Unusable;
    case State::Replaceable:
        if (!mayReplace) return OpenResult::NameTaken;
        m_replacing = true;
        break;
    case State::Absent: m_replacing = false; break;
    }
    m_target = target.path;
    m_folder = FolderOf(m_target);
    m_mode = target.mode;
    m_uid = target.uid;
    m_gid = target.gid;
    return CreateTemporary() ? OpenResult::Opened : OpenResult::Unusable;
}

bool ReplacementFile::CreateTemporary() {
    const bool procUsable = ::access("/proc/self/fd", X_OK) == 0;
    if (procUsable) m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (procUsable && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        // No unnamed files here: a hidden named one, removed on any failure.
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_namedTemp = TempNameIn(m_folder);
            m_fd = ::open(m_namedTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (m_fd < 0 && errno != EEXIST) break;
        }
        if (m_fd < 0) {
            m_namedTemp.clear();
            return false;
        }
    }
    if (m_replacing) {
        // A replaced file keeps its owner (where we may set it) and its mode.
        if (::fchown(m_fd, m_uid, m_gid) != 0) { /* not ours to change: keep the new owner */ }
        ::fchmod(m_fd, m_mode);
    } else if (!m_namedTemp.empty()) {
        ::fchmod(m_fd, 0666 & ~CurrentUmask());
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
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, m_target.c_str(), RENAME_NOREPLACE) == 0) {
        m_namedTemp.clear();
        return CommitResult::Committed;
    }
    if (errno == EEXIST) return CommitResult::NameTaken;
    if (errno != EINVAL && errno != ENOSYS) return CommitResult::Failed;
    // No such rename on this file system: a hard link refuses a taken name too.
    if (::link(from.c_str(), m_target.c_str()) != 0) {
        return errno == EEXIST ? CommitResult::NameTaken : CommitResult::Failed;
    }
    ::unlink(from.c_str());
    m_namedTemp.clear();
    return CommitResult::Committed;
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
    std::string temp;
    int rc = -1;
    for (int attempt = 0; attempt < 16 && rc != 0; ++attempt) {
        temp = TempNameIn(m_folder);
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

ReplacementFile::CommitResult ReplacementFile::Commit() {
    if (m_fd < 0) return CommitResult::Failed;
    // Errors of delayed allocation and of network file systems surface here.
    const CommitResult result = ::fdatasync(m_fd) == 0 ? LinkIntoPlace() : CommitResult::Failed;
    if (result != CommitResult::Committed) {
        Discard();
        return result;
    }
    const int fd = m_fd;
    m_fd = -1;
    ::close(fd);  // the data is already on disk; close has nothing left to report
    SyncFolder(m_folder);
    return result;
}

void ReplacementFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_namedTemp.empty()) ::unlink(m_namedTemp.c_str());
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
