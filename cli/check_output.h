// What quillon-query --check prints: a text report, one JSON document, or a monitoring
// plugin's status line. Numbers are printed in the C locale, whatever the system's.
#pragma once

#include <string>

#include "check/clock_check.h"

// One line per server, the summary, and the set outcome when one was asked for.
std::string CheckTextReport(const check::CheckResult& result, const check::SetOutcome& set);

// windowsTimeService: "windows_time_service"'s value, nullptr for null (off Windows).
std::string CheckJsonReport(const check::CheckResult& result, const check::SetOutcome& set,
                            const char* windowsTimeService = nullptr);

// The text report's last lines: the summary and, when one was asked for, the set outcome.
std::string CheckSummaryLines(const check::CheckResult& result, const check::SetOutcome& set);

// Monitoring-plugin states and their exit statuses.
enum PluginState { kPluginOk = 0, kPluginWarning = 1, kPluginCritical = 2, kPluginUnknown = 3 };

// Not valid (nothing usable answered, no majority, too few agree) or a failed or refused
// setting: CRITICAL. Otherwise by |offset|: above crit CRITICAL, above warn WARNING, else OK.
PluginState CheckPluginState(const check::CheckResult& result, const check::SetOutcome& set,
                             double warn, double crit);
// "NTP OK: ...|offset=0.000012s;W;C;" and, below it, the text report.
std::string CheckPluginReport(const check::CheckResult& result, const check::SetOutcome& set,
                              double warn, double crit);
