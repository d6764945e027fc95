// One synchronisation run, as the window's workers and quillon-query both make it: the
// exchange, its report in the log pane's words and, when asked, the setting of the clock.
#pragma once

#include <functional>
#include <string>

#include "app/shared_result.h"

struct SyncRunOutcome {
    BOOL exchanged = FALSE;
    DWORD exchangeError = 0;  // last-error code of a failed exchange
    SntpResult measured;      // the exchange's own record
    bool setAsked = false;    // the exchange succeeded and the clock was to be set
    BOOL clockSet = FALSE;
    DWORD setError = 0;  // last-error code of a failed setting
};

// Receives each line of the report, without its line end.
using ReportLine = std::function<void(const std::string&)>;

SyncRunOutcome RunSync(SharedResult* shared, TimeClient* client, const std::string& server,
                       int port, bool setClock, const ReportLine& typeLine);
