#include "open_failures.h"

#include <atomic>
#include <cerrno>
#include <utility>

namespace pictrim::platform {

namespace {
thread_local bool t_shortage = false;
std::atomic<bool> g_ranShort{false};
}  // namespace

void NoteOpenFailure(int error) {
    t_shortage = error == EMFILE || error == ENFILE;
    if (t_shortage) g_ranShort = true;
}

bool TakeDescriptorShortage() { return std::exchange(t_shortage, false); }

bool DescriptorsRanShort() { return g_ranShort; }

}  // namespace pictrim::platform
