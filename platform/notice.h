#pragma once

#include <string>

namespace pictrim::platform {

enum class NoticeButtons { Ok, YesNo };
enum class NoticeIcon { None, Exclamation };
enum class NoticeAnswer { Ok, Yes, No };

// Front ends route notices by kind: a terminal prints completion on stdout and
// the rest on stderr, and a caller learns from it whether a job finished. A
// refusal turns a file down before any work; a failure comes during it.
enum class NoticeKind { Question, Refusal, Failure, Completion };

struct Notice {
    std::string text;
    std::string caption;
    NoticeButtons buttons = NoticeButtons::Ok;
    NoticeIcon icon = NoticeIcon::Exclamation;
    NoticeKind kind = NoticeKind::Failure;
};

// A window that owns modal notices. ShowNotice blocks its caller, a worker
// thread included, until the notice is dismissed.
class NoticeOwner {
public:
    virtual ~NoticeOwner() = default;
    virtual NoticeAnswer ShowNotice(const Notice& notice) = 0;
};

}  // namespace pictrim::platform
