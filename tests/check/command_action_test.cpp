// What quillon-query's command line asks for, in the classic and the --check form: a run,
// the usage, the version, or a usage error. Help and version must win before the parsers
// insist on servers, and must not be mistaken for servers, modes or unknown options.
#include "cli/command_action.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/check_options.h"
#include "cli/query_options.h"

namespace {

using Action = CommandAction;

const char* Name(Action action) {
    switch (action) {
        case Action::kRun:
            return "run";
        case Action::kHelp:
            return "help";
        case Action::kVersion:
            return "version";
        case Action::kUsageError:
            return "usage error";
    }
    return "?";
}

TEST(CommandAction, BothFormsTellRunHelpVersionAndUsageErrorApart) {
    struct Case {
        std::vector<const char*> args;
        bool check;  // the --check form
        Action action;
    };
    const Case cases[] = {
        {{"a"}, false, Action::kRun},
        {{"a", "y", "--port", "1230", "--verbose"}, false, Action::kRun},
        {{"--help"}, false, Action::kHelp},
        {{"-h"}, false, Action::kHelp},
        {{"a", "y", "--help"}, false, Action::kHelp},  // not a third positional argument
        {{"-h", "--version"}, false, Action::kHelp},   // the first one asked counts
        {{"--version"}, false, Action::kVersion},
        {{"-V"}, false, Action::kVersion},
        {{"a", "-V"}, false, Action::kVersion},  // not a mode
        {{"-V", "--help"}, false, Action::kVersion},
        {{"--bogus", "--help"}, false, Action::kHelp},
        {{}, false, Action::kUsageError},
        {{"--bogus", "a"}, false, Action::kUsageError},
        {{"--helpme", "a"}, false, Action::kUsageError},
        {{"--port", "0", "a"}, false, Action::kUsageError},
        {{"a", "--port=1230"}, false, Action::kRun},
        {{"a", "--port="}, false, Action::kUsageError},
        {{"-q", "a"}, false, Action::kUsageError},  // not a host named "-q"
        {{"a", "-x"}, false, Action::kUsageError},  // nor a mode

        {{"--check", "a"}, true, Action::kRun},
        {{"--check", "--warn", "0.5", "--crit", "2", "a", "b"}, true, Action::kRun},
        {{"--check", "--pool", "p.example"}, true, Action::kRun},
        {{"--check", "--help"}, true, Action::kHelp},  // no server needed
        {{"--check", "-h"}, true, Action::kHelp},
        {{"--help", "--check"}, true, Action::kHelp},
        {{"--check", "--warn", "1", "-h"}, true, Action::kHelp},  // half a pair is no error then
        {{"--check", "--version"}, true, Action::kVersion},
        {{"--check", "-V", "a"}, true, Action::kVersion},
        {{"--check"}, true, Action::kUsageError},
        {{"--check", "--bogus", "a"}, true, Action::kUsageError},
        {{"--check", "-H", "a"}, true, Action::kRun},
        {{"--check", "-H"}, true, Action::kUsageError},
        {{"--check", "-w", "1", "-c", "2", "-t", "3", "-p", "4", "a"}, true, Action::kRun},
        {{"--check", "--timeout=2", "--pool=p"}, true, Action::kRun},
        {{"--check", "--json=no", "a"}, true, Action::kUsageError},
        {{"--check", "-v", "a"}, true, Action::kUsageError},
        {{"--check", "--versions", "a"}, true, Action::kUsageError},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"quillon-query"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const int argc = static_cast<int>(argv.size());
        std::string line;
        for (const char* arg : c.args) {
            line += std::string(" ") + arg;
        }
        SCOPED_TRACE("quillon-query" + line);
        ASSERT_EQ(IsCheckCommand(argc, argv.data()), c.check);
        std::string error;
        Action action;
        if (c.check) {
            CheckOptions options;
            action = ParseCheckCommand(argc, argv.data(), &options, &error);
        } else {
            QueryOptions options;
            action = ParseQueryCommand(argc, argv.data(), &options, &error);
        }
        EXPECT_STREQ(Name(action), Name(c.action));
        // A reason is given exactly when the line was not understood.
        EXPECT_EQ(error.empty(), c.action != Action::kUsageError) << error;
    }
}

TEST(CommandAction, ARunKeepsWhatTheParserRead) {
    const char* classic[] = {"quillon-query", "time.example", "y", "--port", "1230"};
    QueryOptions query;
    std::string error;
    ASSERT_EQ(ParseQueryCommand(5, classic, &query, &error), Action::kRun) << error;
    EXPECT_EQ(query.server, "time.example");
    EXPECT_EQ(query.mode, "Y");
    EXPECT_EQ(query.port, 1230);

    const char* check[] = {"quillon-query", "--check", "--warn", "0.5", "--crit", "2", "a", "b"};
    CheckOptions options;
    ASSERT_EQ(ParseCheckCommand(8, check, &options, &error), Action::kRun) << error;
    ASSERT_EQ(options.servers.size(), 2u);
    EXPECT_EQ(options.servers[1].name, "b");
    EXPECT_TRUE(options.plugin);
    EXPECT_DOUBLE_EQ(options.crit, 2.0);

    // The monitoring plugins' spellings, and values after '='.
    const char* plugin[] = {
        "quillon-query", "--check", "-H", "a",           "-w",      "0.5", "-c", "2", "-p",
        "1234",          "-t",      "9",  "--samples=3", "--pool=p"};
    CheckOptions spelt;
    ASSERT_EQ(ParseCheckCommand(14, plugin, &spelt, &error), Action::kRun) << error;
    EXPECT_EQ(spelt.servers.size(), 2u);
    EXPECT_TRUE(spelt.plugin && spelt.servers[1].pool);
    EXPECT_EQ(spelt.settings.port, 1234);
    EXPECT_DOUBLE_EQ(spelt.timeLimitSeconds, 9.0);
    EXPECT_EQ(spelt.settings.samples, 3);
}

}  // namespace
