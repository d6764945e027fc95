// What the program's command line asks for: a server to query as soon as the window opens
// and the mode letters that decide whether the clock is set too.
#pragma once

#include <string>

struct CommandLineRequest {
    // Empty when no run is asked for.
    std::string server;
    // Upper case; "N" when a command line was parsed but named no mode; empty when nothing
    // was parsed (no ".exe" in the line).
    std::string mode;

    bool StartsRun() const { return !server.empty(); }
};

// commandLine is the process's whole command line, program path included, as
// GetCommandLineA gives it. Arguments are found after the first ".exe" (exact case): the
// first blank-separated word is the server, the whole rest of the line the mode. A line
// whose only argument is a server starts a run with mode "N".
CommandLineRequest ParseCommandLine(const std::string& commandLine);
