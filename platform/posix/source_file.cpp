#include "source_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "posix_identity.h"

namespace pictrim::platform {

struct SourceFile::Native {
    int fd = -1;
    std::uint64_t length = 0;  // as found on opening
    ~Native() {
        if (fd >= 0) ::close(fd);
    }
};

void SourceFile::NativeDeleter::operator()(Native* native) const noexcept { delete native; }

namespace {
std::function<void()> g_beforeRead;
}

void SetBeforeReadHookForTesting(std::function<void()> hook) { g_beforeRead = std::move(hook); }

SourceFile::~SourceFile() { Close(); }

Error SourceFile::Open(const std::string& path) {
    Close();
    // O_NONBLOCK so that a FIFO under the path cannot hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return LastError();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {Error::Kind::NotAFile};
    }
    ::fcntl(fd, F_SETFL, 0);  // O_NONBLOCK off, the only status flag it was opened with
    m_native.reset(new Native{fd, static_cast<std::uint64_t>(st.st_size)});
    m_identity = StableIdentityOf(path, st);
    m_mtime = {static_cast<std::int64_t>(st.st_mtim.tv_sec), static_cast<std::uint32_t>(st.st_mtim.tv_nsec)};
    return {};
}

std::optional<std::size_t> SourceFile::Read(void* buffer, std::size_t count) { return ReadFrom(buffer, count, -1); }

std::optional<std::size_t> SourceFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    return ReadFrom(buffer, count, static_cast<std::int64_t>(offset));
}

std::optional<std::size_t> SourceFile::ReadFrom(void* buffer, std::size_t count, std::int64_t offset) {
    if (!m_native) return std::nullopt;
    if (g_beforeRead) g_beforeRead();
    const int fd = m_native->fd;
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        // Linux reads at most about 2 GiB in one call.
        const std::size_t chunk = std::min<std::size_t>(count - done, std::size_t{1} << 30);
        const ssize_t n = offset < 0 ? ::read(fd, out + done, chunk)
                                     : ::pread(fd, out + done, chunk, offset + static_cast<off_t>(done));
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
    if (!m_native) return std::nullopt;
    return m_native->length;
}

void SourceFile::Close() { m_native.reset(); }

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
