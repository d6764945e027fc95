// quillon-query: one SNTP exchange from the console, reported in the log pane's own words;
// with a mode containing "Y" the clock is then set as the window's command-line run does.
// With --check it asks several servers at once instead (check_command.cpp);
// --register-event-source and --unregister-event-source, alone, set up the Event Log source.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/report_lines.h"
#include "app/sync_run.h"
#include "cli/check_command.h"
#include "cli/check_options.h"
#include "cli/command_action.h"
#include "cli/query_options.h"
#include "cli/system_log.h"
#include "net/time_client.h"
#include "platform/error_words.h"
#ifdef _WIN32
#include "app/socket_layer.h"
#endif

namespace {

enum ExitStatus { kSucceeded = 0, kFailed = 1, kUsageError = 2 };

#ifndef _WIN32
// Sockets need no start here.
class SocketLayer {
public:
    const char* StartOrFailureText() { return nullptr; }
};
#endif

void PrintLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
}

// The fraction word as decimal digits of a second, to the nearest nanosecond (the largest
// fraction rounds to 999999999, never to a whole second).
void PrintTimestamp(const char* label, const NtpTimestamp& t) {
    const auto nanoseconds = static_cast<unsigned>(
        (static_cast<std::uint64_t>(t.Fraction()) * 1000000000u + (1u << 31)) >> 32);
    std::printf("%s %s (%u.%09u s since 1900)\n", label, report::DestinationLine(t).c_str() + 9,
                t.Seconds(), nanoseconds);
}

// "last-error code: 10061 (refused: nothing serves that port)": the number as before, and
// what it means.
void PrintErrorCode(DWORD code) {
    const std::string words = platform::ErrorWords(code);
    std::printf("last-error code: %lu%s\n", static_cast<unsigned long>(code),
                words.empty() ? "" : (" (" + words + ")").c_str());
}

void PrintDetails(const SyncRunOutcome& run) {
    if (!run.exchanged) {
        PrintErrorCode(run.exchangeError);
        return;
    }
    const SntpResult& result = run.measured;
    std::printf("leap indicator: %d\nstratum: %d\n", result.m_nLeapIndicator, result.m_nStratum);
    PrintTimestamp("T1 originate:  ", result.m_tsOriginate);
    PrintTimestamp("T2 receive:    ", result.m_tsReceive);
    PrintTimestamp("T3 transmit:   ", result.m_tsTransmit);
    PrintTimestamp("T4 destination:", result.m_tsDestination);
    std::printf("round-trip delay: %f seconds\n", result.m_dRoundTripDelay);
    if (run.setAsked && !run.clockSet) {
        PrintErrorCode(run.setError);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--register-event-source") == 0) {
        return ChangeEventSource(EventSourceChange::kRegister);
    }
    if (argc == 2 && std::strcmp(argv[1], "--unregister-event-source") == 0) {
        return ChangeEventSource(EventSourceChange::kUnregister);
    }
    if (IsCheckCommand(argc, argv)) {
        return RunCheckCommand(argc, argv);
    }
    QueryOptions options;
    std::string error;
    const CommandAction action = ParseQueryCommand(argc, argv, &options, &error);
    if (action != CommandAction::kRun) {
        return AnswerWithoutRunning(action, kQueryUsage, error, kUsageError);
    }

    PrintLine(report::LookupLine(options.server));
    // Winsock 1.1 for the life of the program.
    SocketLayer socketLayer;
    if (const char* failure = socketLayer.StartOrFailureText()) {
        std::fputs(failure, stdout);
        return kFailed;
    }

    TimeClient client;
    SharedResult result;
    const SyncRunOutcome run = RunSync(&result, &client, options.server, options.port,
                                       report::ModeSetsClock(options.mode), PrintLine);
    if (options.verbose) {
        PrintDetails(run);
    }
    return run.exchanged && (!run.setAsked || run.clockSet) ? kSucceeded : kFailed;
}
