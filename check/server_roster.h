// Who a check asks: the servers and pools as named, each named address one line of the
// report, and each distinct address asked once. A server named twice, or reached through
// two names, must not vote twice.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "check/clock_check.h"
#include "check/name_lookup.h"

namespace check {

// How many addresses of a pool are asked.
constexpr std::size_t kPoolAddresses = 4;

// A distinct server to ask: its address, and the name of the entry that first named it
// (what its certificate must carry, under NTS).
struct ServerTarget {
    std::string name;
    platform::SocketAddress address;
};

struct Roster {
    // As named, in order: one per plain server, one per address of a pool (one for a pool
    // that did not resolve). Unresolved and duplicate entries are final here.
    std::vector<ServerReport> entries;
    // The target that is asked for entries[i], or -1 (unresolved, or a duplicate of another).
    std::vector<int> probeOf;
    std::vector<ServerTarget> targets;  // one per probe, all of distinct addresses
    // Distinct servers asked: every target, and every distinct name that did not resolve.
    int asked = 0;
};

// The distinct look-ups the named servers need; queryOf[i] is named[i]'s.
std::vector<NameQuery> LookUpsFor(const std::vector<NamedServer>& named,
                                  std::vector<std::size_t>* queryOf);

// The roster from the look-ups' answers.
Roster PlanRoster(const std::vector<NamedServer>& named, const std::vector<std::size_t>& queryOf,
                  const std::vector<NameAnswer>& answers);

}  // namespace check
