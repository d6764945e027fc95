// The end of each step of a check (the look-ups, the key exchanges, the answers): its own
// time-out from now, or the end of the whole run under --time-limit when that comes first.
#pragma once

#include <string>

#include "check/clock_check.h"
#include "net/deadline.h"

namespace check {

// The reason of whatever the run's time limit left unfinished.
extern const char kTimeLimitRanOut[];

struct StepEnd {
    Deadline at;
    bool byTimeLimit = false;  // the run ends first: a time-out now is the limit's
};

StepEnd StepEndFor(const CheckSettings& settings);

// error, or the time limit's reason in front of it when the step was cut short by the run's
// end and error is a time-out.
std::string CutShortReason(const StepEnd& step, const std::string& error);

}  // namespace check
