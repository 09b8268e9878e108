#include "error.h"

#include <atomic>

#include "internal/system_error.h"
#include "open_failures.h"

namespace pictrim::platform {

namespace {
std::atomic<bool> g_ranShort{false};
}

Error LastError() {
    const Error error = LastSystemError();
    if (error.kind == Error::Kind::OutOfDescriptors) g_ranShort = true;
    return error;
}

bool DescriptorsRanShort() { return g_ranShort; }

}  // namespace pictrim::platform
