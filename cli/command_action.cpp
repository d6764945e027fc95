#include "cli/command_action.h"

#include <cstdio>
#include <cstring>

#include "cli/check_options.h"
#include "cli/query_options.h"
#include "cli/safe_text.h"
#include "quillon_version.h"

const char kVersionLine[] = "quillon-query " QUILLON_VERSION_DOTTED "\n";

namespace {

// kHelp or kVersion for the first argument that asks for one, else kRun. Checked before
// parsing, so that "--check --help" needs no server and a bad option beside --help is no error.
CommandAction InformationAsked(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            return CommandAction::kHelp;
        }
        if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "-V") == 0) {
            return CommandAction::kVersion;
        }
    }
    return CommandAction::kRun;
}

}  // namespace

CommandAction ParseQueryCommand(int argc, const char* const* argv, QueryOptions* options,
                                std::string* error) {
    const CommandAction asked = InformationAsked(argc, argv);
    if (asked != CommandAction::kRun) {
        return asked;
    }
    return ParseQueryOptions(argc, argv, options, error) ? CommandAction::kRun
                                                         : CommandAction::kUsageError;
}

CommandAction ParseCheckCommand(int argc, const char* const* argv, CheckOptions* options,
                                std::string* error) {
    const CommandAction asked = InformationAsked(argc, argv);
    if (asked != CommandAction::kRun) {
        return asked;
    }
    return ParseCheckOptions(argc, argv, options, error) ? CommandAction::kRun
                                                         : CommandAction::kUsageError;
}

int AnswerWithoutRunning(CommandAction action, const char* usage, const std::string& error,
                         int usageErrorStatus) {
    switch (action) {
        case CommandAction::kHelp:
            std::fputs(usage, stdout);
            return 0;
        case CommandAction::kVersion:
            std::fputs(kVersionLine, stdout);
            return 0;
        case CommandAction::kRun:
        case CommandAction::kUsageError:
            break;
    }
    // One line that names what is wrong, and where the whole usage is.
    std::fprintf(stderr, "quillon-query: %s\ntry 'quillon-query %s'\n",
                 PrintableText(error).c_str(), usage == kCheckUsage ? "--check --help" : "--help");
    return usageErrorStatus;
}
