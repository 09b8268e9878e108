#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "error.h"
#include "path_checks.h"

namespace pictrim::platform {

// A file opened read-only. Only regular files open: a directory, FIFO or
// device under the path fails the open rather than blocking or reading junk.
class SourceFile {
public:
    SourceFile() = default;
    ~SourceFile();
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    // No error once the file is open.
    Error Open(const std::string& path);

    // Reads up to count bytes from the current position; fewer only at the
    // end of the file. None on an I/O error.
    std::optional<std::size_t> Read(void* buffer, std::size_t count);
    // Reads up to count bytes from offset on, leaving the position alone.
    std::optional<std::size_t> ReadAt(void* buffer, std::size_t count, std::uint64_t offset);
    std::optional<std::uint64_t> Length() const;
    FileIdentity Identity() const { return m_identity; }
    const FileTime& ModificationTime() const { return m_mtime; }
    void Close();

private:
    std::optional<std::size_t> ReadFrom(void* buffer, std::size_t count, std::int64_t offset);  // offset < 0: current

    // The system's handle and what it keeps beside it; none while closed.
    struct Native;
    struct NativeDeleter {
        void operator()(Native* native) const noexcept;
    };
    std::unique_ptr<Native, NativeDeleter> m_native;
    FileIdentity m_identity;
    FileTime m_mtime;
};

// The whole of a file read to its end, also a pipe or FIFO (a list of names
// from `find -print0`); false for a folder or when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text);

// Test seam: runs before every read of an open source, so that a test can
// change the file under the reader's feet. Empty: nothing runs.
void SetBeforeReadHookForTesting(std::function<void()> hook);

}  // namespace pictrim::platform
