#include "replacement_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <random>

namespace pictrim::platform {

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

std::string TempNameFor(const std::string& folder, const std::string& base) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".pictrim-%d-%u-%08x", static_cast<int>(::getpid()), counter++, rd());
    return folder + "/." + base + suffix;
}

void SyncFolder(const std::string& folder) {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) return;
    ::fsync(dfd);
    ::close(dfd);
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

ReplacementFile::OpenResult ReplacementFile::Open(const std::string& path, const FileIdentity& source) {
    Discard();
    m_replacing = false;
    struct stat st {};
    if (path.empty()) return OpenResult::Unusable;
    if (::lstat(path.c_str(), &st) == 0) {
        m_target = path;
        if (S_ISLNK(st.st_mode)) {
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) return OpenResult::Unusable;  // dangling or looping link
            m_target = resolved;
            std::free(resolved);
        }
        if (::stat(m_target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return OpenResult::Unusable;
        if (FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)} == source) {
            return OpenResult::SameAsSource;
        }
        // Ask the kernel rather than the mode bits: it knows about root, ACLs,
        // read-only mounts and immutable files. Nothing is truncated here.
        const int probe = ::open(m_target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0) return OpenResult::Unusable;
        ::close(probe);
        m_replacing = true;
        m_mode = st.st_mode & 07777;
        m_uid = st.st_uid;
        m_gid = st.st_gid;
    } else if (errno == ENOENT) {
        m_target = path;
    } else {
        return OpenResult::Unusable;
    }

    const auto slash = m_target.find_last_of('/');
    if (slash == std::string::npos) {
        m_folder.assign(1, '.');  // not = ".": GCC 12 warns falsely (-Wrestrict)
        m_baseName = m_target;
    } else {
        m_folder = slash == 0 ? "/" : m_target.substr(0, slash);
        m_baseName = m_target.substr(slash + 1);
    }
    if (m_baseName.empty() || m_baseName == "." || m_baseName == "..") return OpenResult::Unusable;
    return CreateTemporary() ? OpenResult::Opened : OpenResult::Unusable;
}

bool ReplacementFile::CreateTemporary() {
    const bool procUsable = ::access("/proc/self/fd", X_OK) == 0;
    if (procUsable) m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        if (procUsable && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
        // No unnamed files here: a hidden named one, removed on any failure.
        for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
            m_namedTemp = TempNameFor(m_folder, m_baseName);
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

bool ReplacementFile::LinkIntoPlace() {
    if (!m_namedTemp.empty()) {
        if (::rename(m_namedTemp.c_str(), m_target.c_str()) != 0) return false;
        m_namedTemp.clear();
        return true;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    // A new file appears under its name complete, in one step.
    if (!m_replacing && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (!m_replacing && errno != EEXIST) return false;
    // linkat cannot replace a name, rename can: give the file a name first.
    std::string temp;
    int rc = -1;
    for (int attempt = 0; attempt < 16 && rc != 0; ++attempt) {
        temp = TempNameFor(m_folder, m_baseName);
        rc = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temp.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno != EEXIST) return false;
    }
    if (rc != 0) return false;
    if (::rename(temp.c_str(), m_target.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

bool ReplacementFile::Commit() {
    if (m_fd < 0) return false;
    // Errors of delayed allocation and of network file systems surface here.
    if (::fdatasync(m_fd) != 0 || !LinkIntoPlace()) {
        Discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    ::close(fd);  // the data is already on disk; close has nothing left to report
    SyncFolder(m_folder);
    return true;
}

void ReplacementFile::Discard() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    if (!m_namedTemp.empty()) ::unlink(m_namedTemp.c_str());
    m_namedTemp.clear();
}

}  // namespace pictrim::platform
