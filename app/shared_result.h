// The result of the last exchange, shared by the worker that measures it and the Adjust
// command on the window's thread, which sets the clock from it. The lock guards only the
// record: no exchange and no clock call is ever made under it, so the window's thread
// never waits for a worker's network wait or clock setting.
#pragma once

#include <mutex>

#include "net/time_client.h"

class SharedResult {
public:
    SntpResult Copy() const;

    // One exchange with server, on a record of its own. Publishes only what the exchange
    // changed: the whole record when it succeeded, only the arrival time when it failed
    // after one was taken; an offset spent in the meantime stays spent. An exchange in
    // flight while the clock was set measured across the step: it fails (last error
    // ERROR_OPERATION_ABORTED) and keeps nothing but its arrival time. outcome receives the
    // exchange's own record.
    BOOL Measure(TimeClient* client, const char* server, int port, SntpResult* outcome);

    // Sets the clock to now plus the stored offset. The offset is spent the moment it is
    // taken, so however calls interleave it is applied at most once; a setting that fails
    // puts it back, unless a newer measurement has replaced it meanwhile.
    BOOL SetClockFromOffset(TimeClient* client);

private:
    mutable std::mutex m_lock;
    SntpResult m_result;
    unsigned m_nMeasurements = 0;  // whole records published
    unsigned m_nSettingsUnderWay = 0;
    unsigned m_nClockSteps = 0;  // settings that moved the clock
};
