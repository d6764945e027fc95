// Why a server does not count, in words, for the text report, JSON and the plugin output
// alike: every status but ok and duplicate gets a reason, and a code keeps its number.
#pragma once

#include <string>
#include <vector>

#include "check/clock_check.h"

namespace check {

// What a Kiss-o'-Death code asks ("RATE": to be asked less often).
std::string KissWords(const std::string& code);

// Fills every server's reason from its status, code and what the probe said. lookUpsCut:
// the look-ups ended at the run's time limit, so a look-up that timed out ran out of it.
void ExplainServers(const CheckSettings& settings, bool lookUpsCut,
                    std::vector<ServerReport>* servers);

}  // namespace check
