#include "check/run_deadline.h"

namespace check {

const char kTimeLimitRanOut[] = "the time limit ran out";

StepEnd StepEndFor(const CheckSettings& settings) {
    const Deadline own = DeadlineIn(settings.timeoutSeconds);
    return settings.runEnd < own ? StepEnd{settings.runEnd, true} : StepEnd{own, false};
}

std::string CutShortReason(const StepEnd& step, const std::string& error) {
    if (!step.byTimeLimit || Deadline::clock::now() < step.at ||
        error.find("time-out") == std::string::npos) {
        return error;
    }
    return std::string(kTimeLimitRanOut) + " (" + error + ")";
}

}  // namespace check
