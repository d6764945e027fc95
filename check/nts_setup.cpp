#include "check/nts_setup.h"

#include "check/name_lookup.h"
#include "check/named_ntp_server.h"
#include "check/run_deadline.h"
#include "nts/key_exchange.h"
#include "platform/error_words.h"

namespace check {

std::vector<NtsStart> StartNts(const std::vector<ServerTarget>& servers,
                               const CheckSettings& settings) {
    std::vector<nts::KeTarget> targets;
    for (const ServerTarget& server : servers) {
        nts::KeTarget target;
        target.host = server.name;
        target.port = settings.ntsPort;
        target.address = server.address;
        platform::SetAddressPort(&target.address, settings.ntsPort);
        targets.push_back(target);
    }
    nts::KeSettings keSettings;
    keSettings.caFile = settings.caFile;
    keSettings.family = settings.family;
    keSettings.certificateTime = settings.certificateTime;
    const StepEnd exchanges = StepEndFor(settings);
    const std::vector<nts::KeOutcome> outcomes =
        nts::RunKeyExchanges(targets, keSettings, exchanges.at);

    // The NTP servers the exchanges name (record 6), looked up all at once unless their form
    // is refused (check/named_ntp_server.h); without one, the key exchange's own address
    // serves.
    std::vector<NameQuery> queries;
    std::vector<int> queryOf(servers.size(), -1);
    std::vector<std::string> refused(servers.size());
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const std::string& named = outcomes[i].response.server;
        if (!outcomes[i].ok || named.empty()) {
            continue;
        }
        refused[i] = NtpServerNameFault(named);
        if (refused[i].empty()) {
            queryOf[i] = static_cast<int>(queries.size());
            queries.push_back({named, 1});
        }
    }
    const StepEnd lookUps = StepEndFor(settings);
    const std::vector<NameAnswer> answers =
        LookUpNames(queries, settings.port, settings.family, lookUps.at);

    std::vector<NtsStart> starts(servers.size());
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const nts::KeOutcome& outcome = outcomes[i];
        NtsStart& start = starts[i];
        if (!outcome.ok || !refused[i].empty()) {
            start.error = outcome.ok ? refused[i] : CutShortReason(exchanges, outcome.error);
            continue;
        }
        start.ntpAddress = servers[i].address;
        if (queryOf[i] >= 0) {
            const NameAnswer& answer = answers[static_cast<std::size_t>(queryOf[i])];
            if (!answer.resolved) {
                start.error =
                    "the NTP server " + outcome.response.server +
                    " that the key exchange names cannot be looked up: " +
                    (answer.timedOut && lookUps.byTimeLimit ? std::string(kTimeLimitRanOut)
                                                            : platform::ErrorReason(answer.error));
                continue;
            }
            start.ntpAddress = answer.addresses.front();
            start.error = NtpServerAddressFault(outcome.response.server, start.ntpAddress,
                                                servers[i].address);
            if (!start.error.empty()) {
                continue;
            }
        }
        platform::SetAddressPort(
            &start.ntpAddress, outcome.response.port != 0 ? outcome.response.port : settings.port);
        start.ok = true;
        start.session = std::make_unique<NtsSession>(outcome.keys, outcome.response.cookies);
        start.certificate = outcome.certificate;
        // Two key exchanges may send their clients to one NTP server: it votes once.
        for (std::size_t j = 0; j < i && start.sameAs < 0; ++j) {
            if (starts[j].ok && platform::SameAddress(starts[j].ntpAddress, start.ntpAddress)) {
                start.sameAs = static_cast<int>(j);
            }
        }
    }
    return starts;
}

}  // namespace check
