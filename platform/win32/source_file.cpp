#include "source_file.h"

#include <algorithm>

#include "file_handle.h"
#include "wide_path.h"

namespace pictrim::platform {

struct SourceFile::Native {
    FileHandle file;
    std::int64_t position = 0;  // where Read goes on: the system keeps none for reads at an offset
};

void SourceFile::NativeDeleter::operator()(Native* native) const noexcept { delete native; }

namespace {
std::function<void()> g_beforeRead;
}  // namespace

void SetBeforeReadHookForTesting(std::function<void()> hook) { g_beforeRead = std::move(hook); }

SourceFile::~SourceFile() { Close(); }

Error SourceFile::Open(const std::string& path) {
    Close();
    // Shared as a file opened on Linux is: others may read, write, rename or
    // delete it meanwhile, and what is read then is checked as it comes.
    FileHandle file(::CreateFileW(LongPath(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return LastError();
    BY_HANDLE_FILE_INFORMATION info{};
    // Only files on a disk: not a console, pipe or device such as NUL.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {Error::Kind::NotAFile};
    }
    m_identity = IdentityOf(info);
    m_mtime = FromFileTime(info.ftLastWriteTime);
    m_native.reset(new Native{std::move(file)});
    return {};
}

std::optional<std::size_t> SourceFile::Read(void* buffer, std::size_t count) {
    if (!m_native) return std::nullopt;
    const auto done = ReadFrom(buffer, count, m_native->position);
    if (done) m_native->position += static_cast<std::int64_t>(*done);
    return done;
}

std::optional<std::size_t> SourceFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
    return ReadFrom(buffer, count, static_cast<std::int64_t>(offset));
}

// Every read names its offset: bands are read from several threads at once.
std::optional<std::size_t> SourceFile::ReadFrom(void* buffer, std::size_t count, std::int64_t offset) {
    if (!m_native) return std::nullopt;
    if (g_beforeRead) g_beforeRead();
    const HANDLE file = m_native->file.get();
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(count - done, std::size_t{1} << 30));
        const auto at = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!::ReadFile(file, out + done, chunk, &n, &where)) {
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
    if (!m_native || !::GetFileSizeEx(m_native->file.get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

void SourceFile::Close() { m_native.reset(); }

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
