#pragma once

#include <sys/stat.h>

#include <string>

#include "path_checks.h"

namespace pictrim::platform {

// The identity of a file already looked at.
inline FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// The identity of the file at `path`, already looked at as `st`. Most file
// systems give a file one number whatever the spelling; some number it anew
// for each spelling of its name (FUSE file systems without inode numbers of
// their own, such as fusefat; SMB mounts without server inode numbers), so
// that in a folder that ignores case "ORIG.BMP" and "orig.bmp" would look
// like two files. There the path is first spelled as its folders list it.
FileIdentity StableIdentityOf(const std::string& path, const struct stat& st);

}  // namespace pictrim::platform
