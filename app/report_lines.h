// The texts of the log pane, shared by the window and the console front end so that both
// report an exchange in exactly the same words.
#pragma once

#include <string>
#include <vector>

#include "net/time_client.h"

namespace report {

// "retreive" is the program's own spelling: scripts and users match these lines as printed.
inline constexpr char kRetrieved[] = "Time was successfully retreived";
inline constexpr char kDestinationHeading[] = "CLIENT DESTINATION DATE:";
inline constexpr char kOffsetHeading[] = "LOCAL CLOCK OFFSET:";
inline constexpr char kRetrieveFailed[] = "Failed to retreive time from NTP server";
inline constexpr char kSynchronised[] = "Time was successfully synchronised";
inline constexpr char kSetFailed[] = "Failed to set the local time";
inline constexpr char kWinsockLoadFailed[] = "Failed to load winsock stack\r\n";
inline constexpr char kWinsockVersionUnsupported[] =
    "Winsock stack does not support version which this program requires\r\n";

// "Looking up   --- " name " ---"
std::string LookupLine(const std::string& server);
// Nine blanks, then T4 in UTC as dd/mm/yyyy, hh:mm:ss.mmm.
std::string DestinationLine(const NtpTimestamp& destination);
// Nine blanks, the offset with six decimals, " seconds".
std::string OffsetLine(double clockOffset);
// The five report lines of a successful exchange, or the one failure line.
std::vector<std::string> ExchangeReport(BOOL succeeded, const SntpResult& result);
// Whether command-line mode letters ask for the clock to be set.
bool ModeSetsClock(const std::string& mode);

}  // namespace report
