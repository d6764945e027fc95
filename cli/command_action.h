// What a quillon-query command line asks for, in either form: the run itself, the form's
// usage, the version line, or nothing the form understands.
#pragma once

#include <string>

struct CheckOptions;
struct QueryOptions;

enum class CommandAction { kRun, kHelp, kVersion, kUsageError };

// -h/--help or -V/--version anywhere among the arguments (the first of them counts) asks for
// that alone, whatever else is there; otherwise the form's parser decides between kRun and
// kUsageError (with the reason in *error).
CommandAction ParseQueryCommand(int argc, const char* const* argv, QueryOptions* options,
                                std::string* error);
CommandAction ParseCheckCommand(int argc, const char* const* argv, CheckOptions* options,
                                std::string* error);

// For kHelp, kVersion and kUsageError (never kRun): prints the usage to standard output, the
// version line, or the error and where to find the usage ("try 'quillon-query --help'") to
// standard error; gives the exit status, 0 or usageErrorStatus.
int AnswerWithoutRunning(CommandAction action, const char* usage, const std::string& error,
                         int usageErrorStatus);

// "quillon-query 1.2.0.1\n": the version project() in CMakeLists.txt states.
extern const char kVersionLine[];
