// Whether the Windows Time service (W32Time) runs beside quillon-query: left running, it
// steps the clock back to its own source after a --set.
#pragma once

namespace platform {
class ServiceControlApi;
}

enum class TimeServiceState {
    kNoServiceManager,  // not Windows
    kUnknown,           // the service manager could not tell
    kRunning,           // running, or starting, pausing or stopping
    kStopped,
    kAbsent,  // no such service (Wine has none)
};

// Asks services (nullptr: no service manager) for W32Time's state; every handle opened is closed.
TimeServiceState QueryTimeService(platform::ServiceControlApi* services);

// "running", "stopped" or "absent"; nullptr when there is no service manager or it could not tell.
const char* TimeServiceStateName(TimeServiceState state);

// What --set says before it sets the clock while the service runs.
extern const char kTimeServiceWarning[];
