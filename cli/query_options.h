// Arguments of the console front end: quillon-query SERVER [MODE] [--port N] [--verbose]
#pragma once

#include <string>

struct QueryOptions {
    std::string server;
    std::string mode = "N";  // upper case; a mode containing "Y" sets the clock
    int port = 123;
    bool verbose = false;
};

// false with a reason in *error when the arguments do not fit the usage.
bool ParseQueryOptions(int argc, const char* const* argv, QueryOptions* options,
                       std::string* error);

extern const char kQueryUsage[];
