#pragma once

#include <cstdint>
#include <string>

#include "platform/commit_group.h"
#include "platform/notice.h"
#include "platform/window.h"

namespace pictrim {

// What one conversion is started with, in the order the worker takes it.
struct JobParams {
    platform::NoticeOwner* owner = nullptr;  // owns every notice of the job
    std::string srcPath;
    std::string dstPath;
    platform::Window* execButton = nullptr;  // disabled while the job runs; not owned
    std::int32_t percent = 50;
    std::int32_t ratioIndex = 5;
    bool preserveTimestamps = false;  // the result takes the source's modification time
    // Where the finished file is made durable together with others; null:
    // the job commits it itself before its done notice.
    platform::CommitGroup* commits = nullptr;
};

}  // namespace pictrim
