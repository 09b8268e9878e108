#include "standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

namespace pictrim::platform {

void KeepStandardStreamsOpen() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        // open() takes the lowest free number: this one.
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd) ::close(null);
    }
}

}  // namespace pictrim::platform
