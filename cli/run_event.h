// The one record a "--check --event-log" run leaves in the system's log: its outcome as an
// event id and level, and the summary lines as its text.
#pragma once

#include <string>

#include "check/clock_check.h"

enum class EventLevel { kInformation, kWarning, kError };

// The ids of the message table (res/quillon_events.mc), as Event Viewer shows them.
enum class RunEventId {
    kAgreed = 1,      // a valid result, nothing set
    kClockSet = 2,    // a valid result, and the clock was set
    kSetRefused = 3,  // a valid result, but the correction was larger than --max-step
    kNoResult = 4,    // no valid result (whether or not --set was asked)
    kSetFailed = 5,   // a valid result, but setting the clock failed
};

struct RunEvent {
    RunEventId id = RunEventId::kNoResult;
    EventLevel level = EventLevel::kError;
    std::string text;  // lines ended by '\n'
};

// The summary line, what became of --set, and the warning given before setting (if any).
RunEvent DescribeRun(const check::CheckResult& result, const check::SetOutcome& set,
                     const std::string& warning);
