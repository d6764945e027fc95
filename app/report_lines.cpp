#include "app/report_lines.h"

#include <cstdio>

namespace report {

std::string LookupLine(const std::string& server) {
    return "Looking up   --- " + server + " ---";
}

std::string DestinationLine(const NtpTimestamp& destination) {
    const SYSTEMTIME t = destination.ToSystemTime();
    char text[64];
    std::snprintf(text, sizeof text, "         %02d/%02d/%04d, %02d:%02d:%02d.%03d", t.wDay,
                  t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string OffsetLine(double clockOffset) {
    // %f of the largest finite double is about 310 characters.
    char text[400];
    std::snprintf(text, sizeof text, "         %f seconds", clockOffset);
    return text;
}

std::vector<std::string> ExchangeReport(BOOL succeeded, const SntpResult& result) {
    if (!succeeded) {
        return {kRetrieveFailed};
    }
    return {kRetrieved, kDestinationHeading, DestinationLine(result.m_tsDestination),
            kOffsetHeading, OffsetLine(result.m_dClockOffset)};
}

bool ModeSetsClock(const std::string& mode) {
    return mode.find('Y') != std::string::npos;
}

}  // namespace report
