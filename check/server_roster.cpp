#include "check/server_roster.h"

namespace check {

std::vector<NameQuery> LookUpsFor(const std::vector<NamedServer>& named,
                                  std::vector<std::size_t>* queryOf) {
    std::vector<NameQuery> queries;
    queryOf->clear();
    for (const NamedServer& server : named) {
        const std::size_t wanted = server.pool ? kPoolAddresses : 1;
        std::size_t index = 0;
        while (index < queries.size() &&
               (queries[index].host != server.name || queries[index].maxAddresses != wanted)) {
            ++index;
        }
        if (index == queries.size()) {
            queries.push_back({server.name, wanted});
        }
        queryOf->push_back(index);
    }
    return queries;
}

Roster PlanRoster(const std::vector<NamedServer>& named, const std::vector<std::size_t>& queryOf,
                  const std::vector<NameAnswer>& answers) {
    Roster roster;
    std::vector<std::size_t> failedQueries;
    const auto add = [&roster](ServerReport entry, int probe) {
        roster.entries.push_back(std::move(entry));
        roster.probeOf.push_back(probe);
    };
    for (std::size_t i = 0; i < named.size(); ++i) {
        const NameAnswer& answer = answers[queryOf[i]];
        ServerReport entry;
        entry.name = named[i].name;
        if (!answer.resolved) {
            entry.error = answer.error;
            if (answer.timedOut) {
                entry.reason = "the look-up timed out";
            }
            bool repeated = false;
            for (const std::size_t q : failedQueries) {
                repeated |= q == queryOf[i];
            }
            if (repeated) {
                entry.status = ServerStatus::kDuplicate;
                entry.duplicateOf = entry.name;
            } else {
                entry.status = ServerStatus::kUnresolved;
                failedQueries.push_back(queryOf[i]);
            }
            add(entry, -1);
            continue;
        }
        for (const platform::SocketAddress& address : answer.addresses) {
            entry.address = platform::AddressText(address);
            std::size_t probe = 0;
            while (probe < roster.targets.size() &&
                   !platform::SameAddress(roster.targets[probe].address, address)) {
                ++probe;
            }
            if (probe < roster.targets.size()) {
                entry.status = ServerStatus::kDuplicate;
                entry.duplicateOf = roster.targets[probe].name;
                add(entry, -1);
            } else {
                roster.targets.push_back({entry.name, address});
                add(entry, static_cast<int>(probe));
            }
        }
    }
    roster.asked = static_cast<int>(roster.targets.size() + failedQueries.size());
    return roster;
}

}  // namespace check
