#include "source_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "open_failures.h"
#include "posix_identity.h"

namespace pictrim::platform {

namespace {
std::function<void()> g_beforeRead;
}

void SetBeforeReadHookForTesting(std::function<void()> hook) { g_beforeRead = std::move(hook); }

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Open(const std::string& path) {
    Close();
    // O_NONBLOCK so that a FIFO under the path cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        NoteOpenFailure(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, 0);  // O_NONBLOCK off, the only status flag it was opened with
    m_fd = fd;
    m_length = static_cast<std::uint64_t>(st.st_size);
    m_identity = StableIdentityOf(path, st);
    m_mtime = {static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
    return true;
}

std::optional<std::size_t> SourceFile::Read(void* buffer, std::size_t count) { return ReadFrom(buffer, count, -1); }

std::optional<std::size_t> SourceFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    return ReadFrom(buffer, count, static_cast<std::int64_t>(offset));
}

std::optional<std::size_t> SourceFile::ReadFrom(void* buffer, std::size_t count, std::int64_t offset) {
    if (m_fd < 0) return std::nullopt;
    if (g_beforeRead) g_beforeRead();
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        // Linux reads at most about 2 GiB in one call.
        const std::size_t chunk = std::min<std::size_t>(count - done, std::size_t{1} << 30);
        const ssize_t n = offset < 0 ? ::read(m_fd, out + done, chunk)
                                     : ::pread(m_fd, out + done, chunk, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

// As found when opened: a file that shrinks later is caught by its reads.
std::optional<std::uint64_t> SourceFile::Length() const {
    if (m_fd < 0) return std::nullopt;
    return m_length;
}

void SourceFile::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) return false;
    bool read = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    char buffer[65536];
    for (ssize_t n = 0; read && (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n > 0) text.append(buffer, static_cast<std::size_t>(n));
        read = n > 0 || errno == EINTR;
    }
    ::close(fd);
    return read;
}

}  // namespace pictrim::platform
