#include "cli/query_options.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

const char kQueryUsage[] =
    "usage: quillon-query SERVER [MODE] [--port N] [--verbose]\n"
    "       quillon-query -h | --help | -V | --version\n"
    "       quillon-query --register-event-source | --unregister-event-source\n"
    "  SERVER     host name or dotted IPv4 address of an SNTP server\n"
    "  MODE       mode letters; any mode containing Y also sets the clock (default N)\n"
    "  --port N   UDP port of the server (default 123)\n"
    "  --verbose  also print leap indicator, stratum, T1-T4, delay and failure codes\n"
    "   or: quillon-query --check [options] SERVER...\n"
    "  asks several servers at once (quillon-query --check --help lists its options)\n"
    "  --register-event-source, --unregister-event-source (Windows, as administrator):\n"
    "             write or remove the Event Log source Quillon that --check --event-log uses\n";

namespace {

bool ParsePort(const char* text, int* port) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > 65535) {
        return false;
    }
    *port = static_cast<int>(value);
    return true;
}

}  // namespace

bool ParseQueryOptions(int argc, const char* const* argv, QueryOptions* options,
                       std::string* error) {
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool portWithValue = std::strncmp(arg, "--port=", 7) == 0;
        if (std::strcmp(arg, "--verbose") == 0) {
            options->verbose = true;
        } else if (std::strcmp(arg, "--port") == 0 || portWithValue) {
            const char* value = portWithValue ? arg + 7 : i + 1 < argc ? argv[++i] : nullptr;
            if (value == nullptr) {
                *error = "--port needs a value: a port number from 1 to 65535";
                return false;
            }
            if (!ParsePort(value, &options->port)) {
                *error = std::string(portWithValue ? "" : "--port ") + argv[i] +
                         ": give a port number from 1 to 65535";
                return false;
            }
        } else if (arg[0] == '-' && arg[1] != '\0') {
            // No server or mode starts with '-': "-q host" must not look up "-q".
            *error = std::string("unknown option ") + arg;
            return false;
        } else if (positional == 0) {
            options->server = arg;
            ++positional;
        } else if (positional == 1) {
            options->mode = arg;
            for (char& c : options->mode) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            ++positional;
        } else {
            *error = std::string("unexpected argument ") + arg;
            return false;
        }
    }
    if (options->server.empty()) {
        *error = "a server is required";
        return false;
    }
    return true;
}
