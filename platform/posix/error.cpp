#include <cerrno>

#include "internal/system_error.h"

namespace pictrim::platform {

Error LastSystemError() {
    const int code = errno;
    Error error{Error::Kind::Other, code};
    switch (code) {
    case 0: error.kind = Error::Kind::None; break;
    case EMFILE:
    case ENFILE: error.kind = Error::Kind::OutOfDescriptors; break;
    case ENOENT:
    case ENOTDIR: error.kind = Error::Kind::NotFound; break;
    case EEXIST: error.kind = Error::Kind::NameTaken; break;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: error.kind = Error::Kind::NoSpace; break;
    case EISDIR:
    case ELOOP:
    case ENXIO: error.kind = Error::Kind::NotAFile; break;
    default: break;
    }
    return error;
}

}  // namespace pictrim::platform
