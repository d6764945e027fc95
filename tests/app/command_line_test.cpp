#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* commandLine;
    const char* server;
    const char* mode;
};

void ExpectParse(const Row& row) {
    const CommandLineRequest request = ParseCommandLine(row.commandLine);
    EXPECT_EQ(request.server, row.server) << "[" << row.commandLine << "]";
    EXPECT_EQ(request.mode, row.mode) << "[" << row.commandLine << "]";
    EXPECT_EQ(request.StartsRun(), row.server[0] != '\0') << "[" << row.commandLine << "]";
}

TEST(CommandLine, ServerAndModeAfterQuotedOrBarePath) {
    for (const Row& row : {
             Row{R"("C:\dir\prog.exe" host Y)", "host", "Y"},
             Row{R"(C:\dir\prog.exe host Y)", "host", "Y"},
             Row{R"("C:\dir\prog.exe"   host   Y)", "host", "Y"},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, ModeIsTheUpperCasedRestOfTheLine) {
    for (const Row& row : {
             Row{R"("C:\dir\prog.exe" host y extra)", "host", "Y EXTRA"},
             Row{R"("C:\dir\prog.exe" host yes  )", "host", "YES  "},
             Row{R"("C:\dir\prog.exe" host n)", "host", "N"},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, ServerWithoutModeRunsInModeN) {
    for (const Row& row : {
             Row{R"("C:\dir\prog.exe" host )", "host", "N"},
             // The lone argument: a run with that server, not a mode named after it.
             Row{R"("C:\dir\prog.exe" host)", "host", "N"},
             Row{R"(C:\dir\prog.exe host)", "host", "N"},
             Row{R"("C:\dir\prog.exe"   127.0.0.1)", "127.0.0.1", "N"},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, NoArgumentsStartNoRun) {
    for (const Row& row : {
             Row{R"("C:\dir\prog.exe")", "", "N"},
             Row{R"(C:\dir\prog.exe)", "", "N"},
             Row{R"("C:\dir\prog.exe"   )", "", "N"},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, NothingIsParsedWithoutLowerCaseExe) {
    for (const Row& row : {
             Row{R"("C:\dir\prog.EXE" host Y)", "", ""},
             Row{R"(prog host Y)", "", ""},
             Row{"", "", ""},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, ArgumentsStartAfterTheFirstExe) {
    for (const Row& row : {
             Row{R"("C:\a.exe.d\prog.exe" host Y)", "host", "Y"},
             // A blank inside the quoted path is stepped over with the closing quote.
             Row{R"("C:\Program Files\prog.exe" host Y)", "host", "Y"},
         }) {
        ExpectParse(row);
    }
}

TEST(CommandLine, WordsSplitByTabsAreNoLoneServer) {
    // Only a blank separates server and mode; "host<TAB>Y" is no host name either.
    ExpectParse(Row{"\"C:\\dir\\prog.exe\" host\tY", "", "HOST\tY"});
    // Trailing white space after a lone server is not part of its name.
    ExpectParse(Row{"\"C:\\dir\\prog.exe\" host\t", "host", "N"});
}

}  // namespace
