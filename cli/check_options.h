// Arguments of quillon-query --check [options] SERVER...
#pragma once

#include <string>
#include <vector>

#include "check/clock_check.h"

struct CheckOptions {
    std::vector<check::NamedServer> servers;  // servers and pools, in the order named
    check::CheckSettings settings;
    bool json = false;
    // Monitoring-plugin output and exit status, with these thresholds in seconds.
    bool plugin = false;
    double warn = 0.0;
    double crit = 0.0;
    bool eventLog = false;  // one record of the run in the Event Log (syslog off Windows)
    bool set = false;
    bool limitStep = false;  // --max-step given
    double maxStep = 0.0;
    double timeLimitSeconds = 0.0;      // --time-limit; 0: none
    bool certificateTimeGiven = false;  // --cert-time given
};

constexpr int kCheckMaxServers = 16;  // names, a pool counting as one
constexpr int kCheckMaxSamples = 8;

// Whether the arguments ask for the check form at all.
bool IsCheckCommand(int argc, const char* const* argv);
// Whether --warn/--crit (-w/-c) stand anywhere among the arguments, even with a bad value:
// then even a usage error is answered in the monitoring plugin's way.
bool AsksForPluginOutput(int argc, const char* const* argv);
// false with a one-line reason in *error when the arguments do not fit the usage. An option's
// value may follow it as the next argument or after '=' (--timeout=2).
bool ParseCheckOptions(int argc, const char* const* argv, CheckOptions* options,
                       std::string* error);

extern const char kCheckUsage[];
