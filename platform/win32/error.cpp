#include <windows.h>

#include "internal/system_error.h"

namespace pictrim::platform {

Error LastSystemError() {
    const DWORD code = ::GetLastError();
    Error error{Error::Kind::Other, static_cast<std::int64_t>(code)};
    switch (code) {
    case ERROR_SUCCESS: error.kind = Error::Kind::None; break;
    case ERROR_TOO_MANY_OPEN_FILES: error.kind = Error::Kind::OutOfDescriptors; break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: error.kind = Error::Kind::NotFound; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: error.kind = Error::Kind::NameTaken; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: error.kind = Error::Kind::NoSpace; break;
    default: break;
    }
    return error;
}

}  // namespace pictrim::platform
