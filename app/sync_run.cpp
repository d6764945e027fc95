#include "app/sync_run.h"

#include "app/report_lines.h"

SyncRunOutcome RunSync(SharedResult* shared, TimeClient* client, const std::string& server,
                       int port, bool setClock, const ReportLine& typeLine) {
    SyncRunOutcome outcome;
    outcome.exchanged = shared->Measure(client, server.c_str(), port, &outcome.measured);
    outcome.exchangeError = outcome.exchanged ? 0 : platform::LastError();
    for (const std::string& line : report::ExchangeReport(outcome.exchanged, outcome.measured)) {
        typeLine(line);
    }
    if (outcome.exchanged && setClock) {
        outcome.setAsked = true;
        outcome.clockSet = shared->SetClockFromOffset(client);
        outcome.setError = outcome.clockSet ? 0 : platform::LastError();
        typeLine(outcome.clockSet ? report::kSynchronised : report::kSetFailed);
    }
    return outcome;
}
