// The result of the last exchange, shared by the worker that publishes it and the Adjust
// command on the window's thread, which reads it and sets the clock from it.
#pragma once

#include <mutex>

#include "net/time_client.h"

class SharedResult {
public:
    SntpResult Copy() const;
    // The whole record at once, so that no reader ever sees it half written.
    void Publish(const SntpResult& result);

    // Sets the clock to now plus the stored offset. On success the stored offset becomes 0:
    // the clock now agrees with the server, and a second Adjust must not correct it twice.
    // The record stays locked throughout, so two callers cannot both apply one offset.
    BOOL SetClockFromOffset(TimeClient* client);

private:
    mutable std::mutex m_lock;
    SntpResult m_result;
};
