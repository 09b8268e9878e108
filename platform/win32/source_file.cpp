#include "source_file.h"

#include <algorithm>

#include "file_handle.h"
#include "wide_path.h"

namespace pictrim::platform {

namespace {
std::function<void()> g_beforeRead;

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

void SetBeforeReadHookForTesting(std::function<void()> hook) { g_beforeRead = std::move(hook); }

SourceFile::~SourceFile() { Close(); }

bool SourceFile::Open(const std::string& path) {
    Close();
    // Shared as a file opened on Linux is: others may read, write, rename or
    // delete it meanwhile, and what is read then is checked as it comes.
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    // Only files on a disk: not a console, pipe or device such as NUL.
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    m_identity = IdentityOf(info);
    m_mtime = FromFileTime(info.ftLastWriteTime);
    m_position = 0;
    m_fd = reinterpret_cast<std::intptr_t>(file.release());
    return true;
}

std::optional<std::size_t> SourceFile::Read(void* buffer, std::size_t count) {
    const auto done = ReadFrom(buffer, count, m_position);
    if (done) m_position += static_cast<std::int64_t>(*done);
    return done;
}

std::optional<std::size_t> SourceFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    return ReadFrom(buffer, count, static_cast<std::int64_t>(offset));
}

// Every read names its offset: bands are read from several threads at once.
std::optional<std::size_t> SourceFile::ReadFrom(void* buffer, std::size_t count, std::int64_t offset) {
    if (m_fd == -1) return std::nullopt;
    if (g_beforeRead) g_beforeRead();
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, std::size_t{1} << 30));
        const auto at = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!::ReadFile(AsHandle(m_fd), out + done, chunk, &n, &where)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) break;
            return std::nullopt;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

std::optional<std::uint64_t> SourceFile::Length() const {
    LARGE_INTEGER size{};
    if (m_fd == -1 || !::GetFileSizeEx(AsHandle(m_fd), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

void SourceFile::Close() {
    if (m_fd != -1) ::CloseHandle(AsHandle(m_fd));
    m_fd = -1;
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    const FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    // A folder opens only with backup semantics: here it does not.
    if (!file) return false;
    char buffer[65536];
    DWORD n = 0;
    BOOL read = FALSE;
    while ((read = ::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) && n > 0) text.append(buffer, n);
    // A pipe ends when its writer closes it.
    return read || ::GetLastError() == ERROR_BROKEN_PIPE;
}

}  // namespace pictrim::platform
