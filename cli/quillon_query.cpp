// quillon-query: one SNTP exchange from the console, reported in the log pane's own words;
// with a mode containing "Y" the clock is then set as the window's command-line run does.
#include <cstdio>
#include <string>

#include "app/report_lines.h"
#include "cli/query_options.h"
#include "net/time_client.h"
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

void PrintTimestamp(const char* label, const NtpTimestamp& t) {
    std::printf("%s %s (%u.%010u)\n", label, report::DestinationLine(t).c_str() + 9, t.Seconds(),
                t.Fraction());
}

void PrintDetails(BOOL succeeded, const SntpResult& result, DWORD reason) {
    if (!succeeded) {
        std::printf("last-error code: %lu\n", static_cast<unsigned long>(reason));
        return;
    }
    std::printf("leap indicator: %d\nstratum: %d\n", result.m_nLeapIndicator, result.m_nStratum);
    PrintTimestamp("T1 originate:  ", result.m_tsOriginate);
    PrintTimestamp("T2 receive:    ", result.m_tsReceive);
    PrintTimestamp("T3 transmit:   ", result.m_tsTransmit);
    PrintTimestamp("T4 destination:", result.m_tsDestination);
    std::printf("round-trip delay: %f seconds\n", result.m_dRoundTripDelay);
}

}  // namespace

int main(int argc, char** argv) {
    QueryOptions options;
    std::string error;
    if (!ParseQueryOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "quillon-query: %s\n%s", error.c_str(), kQueryUsage);
        return kUsageError;
    }

    PrintLine(report::LookupLine(options.server));
    // Winsock 1.1 for the life of the program.
    SocketLayer socketLayer;
    if (const char* failure = socketLayer.StartOrFailureText()) {
        std::fputs(failure, stdout);
        return kFailed;
    }

    TimeClient client;
    SntpResult result;
    const BOOL succeeded = client.SntpQuery(options.server.c_str(), &result, options.port);
    const DWORD reason = platform::LastError();
    for (const std::string& line : report::ExchangeReport(succeeded, result)) {
        PrintLine(line);
    }
    if (options.verbose) {
        PrintDetails(succeeded, result, reason);
    }
    if (!succeeded) {
        return kFailed;
    }

    if (!report::ModeSetsClock(options.mode)) {
        return kSucceeded;
    }
    NtpTimestamp corrected;
    const BOOL set =
        CorrectedClockTime(result.m_dClockOffset, &corrected) && client.SetClock(&corrected);
    const DWORD setReason = platform::LastError();
    PrintLine(set ? report::kSynchronised : report::kSetFailed);
    if (!set && options.verbose) {
        std::printf("last-error code: %lu\n", static_cast<unsigned long>(setReason));
    }
    return set ? kSucceeded : kFailed;
}
