#pragma once

#include <windows.h>

#include <utility>

#include "path_checks.h"

namespace pictrim::platform {

// A HANDLE closed when it goes.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : m_handle(std::exchange(other.m_handle, INVALID_HANDLE_VALUE)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset();
            m_handle = std::exchange(other.m_handle, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    explicit operator bool() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const { return m_handle; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void reset() {
        if (*this) ::CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_handle;
};

// The identity of a file already looked at: volume serial number and file index.
FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info);

// Between the system's file time (100 ns since 1601) and the portable one.
inline FileTime FromFileTime(const FILETIME& time) {
    const std::int64_t ticks =
        static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime) -
        116444736000000000LL;
    std::int64_t seconds = ticks / 10000000, rest = ticks % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --seconds;
    }
    return {seconds, static_cast<std::uint32_t>(rest * 100)};
}

inline FILETIME ToFileTime(const FileTime& time) {
    const auto ticks = static_cast<std::uint64_t>(time.seconds * 10000000 + time.nanoseconds / 100 + 116444736000000000LL);
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace pictrim::platform
