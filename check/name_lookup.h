// The look-up of every name of a check at once, bounded in time: a resolver that does not
// answer costs the check one time-out, however many names there are.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "net/deadline.h"
#include "platform/dual_stack.h"

namespace check {

struct NameQuery {
    std::string host;
    std::size_t maxAddresses = 1;  // more than one for a pool
};

struct NameAnswer {
    bool resolved = false;
    bool timedOut = false;  // still unanswered at the deadline
    std::vector<platform::SocketAddress> addresses;
    DWORD error = 0;  // the resolver's code, or WSAETIMEDOUT
};

// Looks every query up concurrently and returns by the deadline, one answer per query. A
// look-up still running then is left to finish on its own; its answer is discarded.
std::vector<NameAnswer> LookUpNames(const std::vector<NameQuery>& queries, int port,
                                    platform::AddressFamily family, Deadline deadline);

}  // namespace check
