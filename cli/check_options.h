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
    bool certificateTimeGiven = false;  // --cert-time given
};

constexpr int kCheckMaxServers = 16;  // names, a pool counting as one
constexpr int kCheckMaxSamples = 8;

// Whether the arguments ask for the check form at all.
bool IsCheckCommand(int argc, const char* const* argv);
// false with a reason in *error when the arguments do not fit the usage.
bool ParseCheckOptions(int argc, const char* const* argv, CheckOptions* options,
                       std::string* error);

extern const char kCheckUsage[];
