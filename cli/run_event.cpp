#include "cli/run_event.h"

#include "cli/check_output.h"

using check::SetKind;

RunEvent DescribeRun(const check::CheckResult& result, const check::SetOutcome& set,
                     const std::string& warning) {
    RunEvent event;
    event.text = CheckSummaryLines(result, set) + (warning.empty() ? "" : warning + "\n");
    // No valid result outranks what --set then said: it refused for that reason.
    if (!result.valid) {
        return event;
    }
    switch (set.kind) {
        case SetKind::kNotRequested:
            event.id = RunEventId::kAgreed;
            event.level = EventLevel::kInformation;
            break;
        case SetKind::kDone:
            event.id = RunEventId::kClockSet;
            event.level = EventLevel::kInformation;
            break;
        case SetKind::kRefused:
            event.id = RunEventId::kSetRefused;
            event.level = EventLevel::kWarning;
            break;
        case SetKind::kFailed:
            event.id = RunEventId::kSetFailed;
            event.level = EventLevel::kError;
            break;
    }
    return event;
}
