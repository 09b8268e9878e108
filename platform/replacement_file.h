#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "path_checks.h"

namespace pictrim::platform {

// Writes a new version of a file without ever exposing a partial one. The
// bytes go to a temporary file in the destination's folder (an unnamed
// O_TMPFILE where the file system has it) and replace the destination only in
// Commit, after all of them are written and flushed. Until then, and after
// any failure, the destination is exactly as it was and no temporary file is
// left behind.
class ReplacementFile {
public:
    enum class OpenResult {
        Opened,
        SameAsSource,  // the destination is the open source, however spelled
        Unusable,      // not a regular file, not writable, or no folder to write in
    };

    ReplacementFile() = default;
    ~ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // A symbolic link is followed: the file it names is the one replaced.
    OpenResult Open(const std::string& path, const FileIdentity& source);
    // Claims the space for `bytes` up front where the file system can, so
    // that a disk too full is found before any work is done. False only when
    // the space is known not to be there.
    bool Reserve(std::uint64_t bytes);
    bool Write(const void* data, std::size_t count);
    bool Commit();
    void Discard();

private:
    bool CreateTemporary();
    bool LinkIntoPlace();

    int m_fd = -1;
    std::string m_target;
    std::string m_folder;
    std::string m_baseName;
    std::string m_namedTemp;  // empty for an unnamed temporary file
    bool m_replacing = false;
    mode_t m_mode = 0;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

}  // namespace pictrim::platform
