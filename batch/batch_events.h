#pragma once

#include <cstddef>
#include <string>

#include "batch_plan.h"

namespace pictrim::batch {

enum class Outcome { NotDone, Converted, Skipped, Refused, Failed };

// Why a file with an existing destination was skipped.
enum class SkipCause {
    Answer,      // the question was answered no (or the front end declined to ask)
    Policy,      // Overwrite::No
    EarlierNone  // "none" was answered before
};

struct Counts {
    std::size_t converted = 0, skipped = 0, refused = 0, failed = 0, notDone = 0;
    // Nothing refused, failed or left undone: what a front end reports as success.
    bool Complete() const { return refused + failed + notDone == 0; }
};

// What the batch tells its front end. Called from the run's threads, several
// at once, and, for a file's outcome, from the thread that makes finished
// files durable: an implementation guards its own state.
class Events {
public:
    enum class Answer { Yes, No, All, None, Cancelled };

    virtual ~Events() = default;

    // A file's job begins. Files refused at planning are never started.
    virtual void Started(const Item& item) = 0;
    // The run is done with a file's bytes (its size is in item.bytes); its
    // outcome may come later, once it is durable.
    virtual void Processed(const Item& item) = 0;
    // A file's outcome, told once. `reason` is the notice's text for a
    // refusal or a failure, empty otherwise.
    virtual void Finished(const Item& item, Outcome outcome, const std::string& reason, SkipCause cause) = 0;
    // The destination exists and the settings say ask: blocks until
    // answered. All and None stand for the rest of the run. Cancelled (the
    // run is stopping) leaves the file not done.
    virtual Answer AskOverwrite(const Item& item, const std::string& question) = 0;
    // The run is stopping: the question being asked is to return Cancelled
    // at once, and none is to be asked after.
    virtual void CancelQuestions() = 0;
    // Every file is done, or the run stopped; called once, last.
    virtual void Ended(const Counts& counts) { (void)counts; }
};

}  // namespace pictrim::batch
