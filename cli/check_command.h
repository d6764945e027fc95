// quillon-query --check: parses the options, runs the check, sets the clock when asked
// and allowed, prints, and gives the exit status.
#pragma once

int RunCheckCommand(int argc, const char* const* argv);
