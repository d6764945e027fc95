#include "cli/check_options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "check/server_roster.h"
#include "cli/safe_text.h"

const char kCheckUsage[] =
    "usage: quillon-query --check [options] SERVER... [--pool NAME]...\n"
    "       quillon-query --check -h | --help | -V | --version\n"
    "  Asks up to 16 servers or pools at once and says whether they agree on the local clock.\n"
    "  Every option's value may also follow it after '=' (--timeout=2).\n"
    "  -H HOST         a server (repeatable), as monitoring plugins name it\n"
    "  --pool NAME     a pool: up to 4 of its addresses, each a server of its own\n"
    "  --samples N     answers wanted per server, 1-8 (default 1; the best is kept)\n"
    "  --interval S    seconds between two requests to one server (default 2, at least 0.01)\n"
    "  --timeout S     seconds for the look-ups, and for each answer (default 5)\n"
    "  --time-limit S | -t S\n"
    "                  the whole run ends within S seconds; what is unfinished then\n"
    "                  counts as not answered\n"
    "  --port N | -p N\n"
    "                  UDP port of every server (default 123)\n"
    "  -4 | -6         only IPv4 | only IPv6 addresses of a name\n"
    "  --tolerance S   allowance added to every server's error bound (default 0.1)\n"
    "  --max-distance S\n"
    "                  reject a server whose root distance exceeds S seconds (default 1.5)\n"
    "  --max-delay S   do not use a sample whose round trip exceeds S seconds (default 3)\n"
    "  --min-agree N   servers that must agree, at most those named (a pool counts 4;\n"
    "                  default: a strict majority of those asked)\n"
    "  --nts           ask every server through NTS (RFC 8915): a TLS key exchange, then\n"
    "                  authenticated requests; a server that fails it is not used\n"
    "  --ca FILE       with --nts: trust these PEM certificates instead of the system's\n"
    "  --nts-port N    with --nts: TCP port of the key exchange (default 4460)\n"
    "  --cert-time agreed|local\n"
    "                  with --nts: judge certificate validity at the time the servers agree\n"
    "                  on (default; needs two agreeing servers) or at the local clock\n"
    "  --json          one JSON document instead of the text report\n"
    "  --warn W --crit C | -w W -c C\n"
    "                  monitoring-plugin output; exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN\n"
    "  --set           set the clock only when the result is valid\n"
    "  --max-step S    with --set: refuse a correction larger than S seconds\n"
    "  --event-log     also leave the outcome in the Application event log (source Quillon;\n"
    "                  syslog on Linux)\n"
    "  Exit status: 0 the servers agree (and the clock was set if asked), 2 they do not,\n"
    "  nothing usable answered, or the setting was refused or failed; 3 usage or\n"
    "  configuration error (found before anything is sent; with --warn/--crit an\n"
    "  \"NTP UNKNOWN: ...\" line on standard output).\n";

namespace {

bool ParseInteger(const char* text, long low, long high, int* value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < low || parsed > high) {
        return false;
    }
    *value = static_cast<int>(parsed);
    return true;
}

// A finite number of seconds in [low, high].
bool ParseSeconds(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(parsed) || parsed < low || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

constexpr double kLongest = 86400.0;

// The options that take a value, how each is read and what it must be.
struct ValueOption {
    const char* name;
    const char* need;
    bool (*read)(const char* text, CheckOptions* options);
};

const ValueOption kValueOptions[] = {
    {"--samples", "a count from 1 to 8",
     [](const char* t, CheckOptions* o) {
         return ParseInteger(t, 1, kCheckMaxSamples, &o->settings.samples);
     }},
    {"--interval", "at least 0.01 seconds",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 0.01, kLongest, &o->settings.intervalSeconds);
     }},
    {"--timeout", "from 0.01 to 60 seconds",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 0.01, 60.0, &o->settings.timeoutSeconds);
     }},
    {"--time-limit", "from 0.01 to 86400 seconds",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 0.01, kLongest, &o->timeLimitSeconds);
     }},
    {"-H", "a server's name",
     [](const char* t, CheckOptions* o) {
         o->servers.push_back(t);
         return *t != '\0';
     }},
    {"--port", "a port number from 1 to 65535",
     [](const char* t, CheckOptions* o) { return ParseInteger(t, 1, 65535, &o->settings.port); }},
    {"--tolerance", "seconds, 0 or more",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 0.0, kLongest, &o->settings.toleranceSeconds);
     }},
    {"--max-distance", "seconds, more than 0",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 1e-9, kLongest, &o->settings.maxDistanceSeconds);
     }},
    {"--max-delay", "seconds, more than 0",
     [](const char* t, CheckOptions* o) {
         return ParseSeconds(t, 1e-9, kLongest, &o->settings.maxDelaySeconds);
     }},
    {"--cert-time", "agreed or local",
     [](const char* t, CheckOptions* o) {
         const bool local = std::strcmp(t, "local") == 0;
         o->settings.certificateTime =
             local ? nts::CertificateTime::kLocal : nts::CertificateTime::kAgreed;
         o->certificateTimeGiven = true;
         return local || std::strcmp(t, "agreed") == 0;
     }},
    {"--min-agree", "a count from 1 to 64",
     [](const char* t, CheckOptions* o) { return ParseInteger(t, 1, 64, &o->settings.minAgree); }},
    {"--pool", "a pool's name",
     [](const char* t, CheckOptions* o) {
         o->servers.emplace_back(t, true);
         return *t != '\0';
     }},
    {"--ca", "a file of PEM certificates",
     [](const char* t, CheckOptions* o) {
         o->settings.caFile = t;
         return *t != '\0';
     }},
    {"--nts-port", "a port number from 1 to 65535",
     [](const char* t, CheckOptions* o) {
         return ParseInteger(t, 1, 65535, &o->settings.ntsPort);
     }},
    {"--warn", "seconds, 0 or more",
     [](const char* t, CheckOptions* o) { return ParseSeconds(t, 0.0, 1e9, &o->warn); }},
    {"--crit", "seconds, 0 or more",
     [](const char* t, CheckOptions* o) { return ParseSeconds(t, 0.0, 1e9, &o->crit); }},
    {"--max-step", "seconds, more than 0",
     [](const char* t, CheckOptions* o) {
         o->limitStep = true;
         return ParseSeconds(t, 1e-9, 1e9, &o->maxStep);
     }},
};

const ValueOption* FindValueOption(const std::string& name) {
    for (const ValueOption& option : kValueOptions) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

// The monitoring-plugin guidelines' short spellings of the options of the same meaning.
const char* const kShortSpellings[][2] = {
    {"-w", "--warn"},
    {"-c", "--crit"},
    {"-p", "--port"},
    {"-t", "--time-limit"},
};

// An argument as the option it names ("-w" is "--warn") and the value written into it
// after '=' ("--timeout=2"); *value is null when there is none.
std::string OptionName(const char* arg, const char** value) {
    *value = nullptr;
    std::string name = arg;
    const std::size_t equals = name.find('=');
    if (name.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        *value = arg + equals + 1;
        name.resize(equals);
    }
    for (const auto& spelling : kShortSpellings) {
        if (name == spelling[0]) {
            return spelling[1];
        }
    }
    return name;
}

// Servers the names stand for at most: a pool up to kPoolAddresses of them.
int ServersNamed(const std::vector<check::NamedServer>& servers) {
    int count = 0;
    for (const check::NamedServer& server : servers) {
        count += server.pool ? static_cast<int>(check::kPoolAddresses) : 1;
    }
    return count;
}

}  // namespace

bool IsCheckCommand(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--check") == 0) {
            return true;
        }
    }
    return false;
}

bool AsksForPluginOutput(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        const std::string name = OptionName(argv[i], &value);
        if (name == "--warn" || name == "--crit") {
            return true;
        }
    }
    return false;
}

bool ParseCheckOptions(int argc, const char* const* argv, CheckOptions* options,
                       std::string* error) {
    bool warnGiven = false;
    bool critGiven = false;
    bool ntsPortGiven = false;
    for (int i = 1; i < argc; ++i) {
        const char* value = nullptr;
        const std::string name = OptionName(argv[i], &value);
        const char* arg = name.c_str();
        if (std::strcmp(arg, "--check") == 0 && value == nullptr) {
            continue;
        }
        if (const ValueOption* option = FindValueOption(name)) {
            // As typed, so that the reason names what the user wrote.
            std::string typed = argv[i];
            if (value == nullptr && i + 1 < argc) {
                value = argv[++i];
                typed += std::string(" ") + value;
            }
            if (value == nullptr) {
                *error = typed + " needs a value: " + option->need;
                return false;
            }
            if (!option->read(value, options)) {
                *error = typed + ": give " + option->need;
                return false;
            }
            warnGiven |= name == "--warn";
            ntsPortGiven |= name == "--nts-port";
            critGiven |= name == "--crit";
        } else if (value != nullptr) {
            *error = name + " takes no value (" + argv[i] + ")";
            return false;
        } else if (std::strcmp(arg, "--json") == 0) {
            options->json = true;
        } else if (std::strcmp(arg, "--nts") == 0) {
            options->settings.nts = true;
        } else if (std::strcmp(arg, "--set") == 0) {
            options->set = true;
        } else if (std::strcmp(arg, "--event-log") == 0) {
            options->eventLog = true;
        } else if (std::strcmp(arg, "-4") == 0 || std::strcmp(arg, "-6") == 0) {
            options->settings.family =
                arg[1] == '4' ? platform::AddressFamily::kIPv4 : platform::AddressFamily::kIPv6;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            *error = std::string("unknown option ") + arg;
            return false;
        } else {
            options->servers.push_back(arg);
        }
    }
    if (options->servers.empty() ||
        options->servers.size() > static_cast<std::size_t>(kCheckMaxServers)) {
        *error = "give from 1 to 16 servers and pools";
        return false;
    }
    if (warnGiven != critGiven) {
        *error = "--warn and --crit go together";
        return false;
    }
    options->plugin = warnGiven;
    if (options->plugin && options->crit < options->warn) {
        *error = "--crit " + PlainDecimal(options->crit) + " is below --warn " +
                 PlainDecimal(options->warn) +
                 ": give a critical threshold at least the warning one";
        return false;
    }
    if (options->plugin && options->json) {
        *error = "--json and --warn/--crit are different outputs: choose one";
        return false;
    }
    if (!options->settings.nts &&
        (ntsPortGiven || !options->settings.caFile.empty() || options->certificateTimeGiven)) {
        *error = "--ca, --nts-port and --cert-time go with --nts";
        return false;
    }
    if (options->limitStep && !options->set) {
        *error = "--max-step goes with --set";
        return false;
    }
    const int named = ServersNamed(options->servers);
    if (options->settings.minAgree > named) {
        *error = "--min-agree " + std::to_string(options->settings.minAgree) + ": only " +
                 std::to_string(named) + (named == 1 ? " server is" : " servers are") +
                 " named (a pool counts " + std::to_string(check::kPoolAddresses) + ")";
        return false;
    }
    return true;
}
