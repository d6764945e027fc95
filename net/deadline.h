// Socket waits bounded by a point in time rather than a span, for waits that go on after
// datagrams that do not end them.
#pragma once

#include <algorithm>
#include <chrono>

#include "platform/win_types.h"

using Deadline = std::chrono::steady_clock::time_point;

// The point seconds from now.
inline Deadline DeadlineIn(double seconds) {
    return std::chrono::steady_clock::now() +
           std::chrono::duration_cast<std::chrono::steady_clock::duration>(
               std::chrono::duration<double>(seconds));
}

// Whole milliseconds left until deadline, rounded up so that a wait never ends early; 0
// once it has passed, and at most an hour (a deadline that never comes).
inline DWORD MillisecondsUntil(Deadline deadline) {
    const Deadline now = std::chrono::steady_clock::now();
    if (deadline <= now) {
        return 0;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<DWORD>(std::min<long long>(left, 60LL * 60 * 1000));
}
