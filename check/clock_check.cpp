#include "check/clock_check.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "check/agreed_time.h"
#include "check/nts_setup.h"
#include "check/release_date.h"
#include "check/run_deadline.h"
#include "check/server_probe.h"
#include "check/server_reasons.h"
#include "check/server_roster.h"
#include "net/deadline.h"
#include "platform/error_words.h"
#include "platform/platform.h"

namespace check {
namespace {

using Clock = ServerProbe::Clock;

// Asks every opened probe until all are finished, or the run's time is up: one wait over
// all their sockets.
void Exchange(const std::vector<std::unique_ptr<ServerProbe>>& probes, Deadline runEnd) {
    std::vector<ServerProbe*> waiting;
    std::vector<SOCKET> sockets;
    const auto readable = std::make_unique<bool[]>(probes.size());
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (now >= runEnd) {
            for (const auto& probe : probes) {
                probe->OutOfTime();
            }
            return;
        }
        waiting.clear();
        sockets.clear();
        Clock::time_point next = runEnd;
        for (const auto& probe : probes) {
            probe->Tick(now);
            if (!probe->Finished()) {
                waiting.push_back(probe.get());
                sockets.push_back(probe->Socket());
                next = std::min(next, probe->NextEvent());
            }
        }
        if (waiting.empty()) {
            return;
        }
        const int ready =
            platform::SocketsWaitReadable(sockets.data(), static_cast<int>(sockets.size()),
                                          readable.get(), MillisecondsUntil(next));
        if (ready == SOCKET_ERROR) {
            return;  // the wait itself broke: what has come in so far is the result
        }
        if (ready > 0) {
            // T4 for every answer that is ready, read once before any of them is read (where
            // the system stamps arrivals, its stamp serves instead).
            const NtpTimestamp arrival = NtpTimestamp::PreciseNow();
            for (std::size_t i = 0; i < waiting.size(); ++i) {
                if (readable[i]) {
                    waiting[i]->Receive(arrival);
                }
            }
        }
    }
}

}  // namespace

const char* StatusName(ServerStatus status) {
    switch (status) {
        case ServerStatus::kOk:
            return "ok";
        case ServerStatus::kFalseticker:
            return "falseticker";
        case ServerStatus::kNoAnswer:
            return "no answer";
        case ServerStatus::kRejected:
            return "rejected";
        case ServerStatus::kKissOfDeath:
            return "kod";
        case ServerStatus::kUnresolved:
            return "unresolved";
        case ServerStatus::kDuplicate:
            return "duplicate";
        case ServerStatus::kNtsFailed:
            return "nts failed";
    }
    return "?";
}

CheckResult RunClockCheck(const std::vector<NamedServer>& servers, const CheckSettings& settings) {
    // Every name is looked up at once, within one time-out; then every distinct address is
    // asked at once. A server that cannot be opened is finished from the start.
    std::vector<std::size_t> queryOf;
    const std::vector<NameQuery> queries = LookUpsFor(servers, &queryOf);
    const StepEnd lookUps = StepEndFor(settings);
    const Roster roster = PlanRoster(
        servers, queryOf, LookUpNames(queries, settings.port, settings.family, lookUps.at));

    // One probe per distinct address, named after the first entry that named it.
    const std::vector<ServerTarget>& targets = roster.targets;
    std::vector<std::unique_ptr<ServerProbe>> probes;
    probes.reserve(targets.size());
    for (const ServerTarget& target : targets) {
        probes.push_back(std::make_unique<ServerProbe>(target.name, settings));
    }
    int asked = roster.asked;
    std::vector<platform::SocketAddress> ntpServers(probes.size());  // each NTS probe's
    if (settings.nts) {
        std::vector<NtsStart> starts = StartNts(targets, settings);
        for (std::size_t p = 0; p < probes.size(); ++p) {
            NtsStart& start = starts[p];
            if (!start.ok) {
                probes[p]->Exclude(ServerStatus::kNtsFailed, start.error);
                continue;
            }
            ntpServers[p] = start.ntpAddress;
            if (start.sameAs >= 0) {
                probes[p]->Exclude(ServerStatus::kDuplicate,
                                   targets[static_cast<std::size_t>(start.sameAs)].name);
                --asked;
            } else {
                probes[p]->Open(start.ntpAddress);
                probes[p]->UseNts(std::move(start.session), start.certificate);
            }
        }
    } else {
        for (std::size_t p = 0; p < probes.size(); ++p) {
            probes[p]->Open(targets[p].address);
        }
    }
    Exchange(probes, settings.runEnd);

    std::vector<ServerReport> reports;
    reports.reserve(probes.size());
    for (std::size_t p = 0; p < probes.size(); ++p) {
        reports.push_back(probes[p]->Report());
        if (ntpServers[p].length != 0) {
            reports.back().ntpAddress = platform::AddressText(ntpServers[p]);
            reports.back().ntpPort = platform::AddressPort(ntpServers[p]);
            reports.back().ntpElsewhere = !platform::SameAddress(ntpServers[p], targets[p].address);
        }
    }
    CheckResult result;
    SelectAtAgreedTime(settings, asked, nts::LocalUnixTime(), ReleaseDate(), &reports, &result);
    result.nts = settings.nts;
    for (std::size_t i = 0; i < roster.entries.size(); ++i) {
        if (roster.probeOf[i] < 0) {
            result.servers.push_back(roster.entries[i]);
        } else {
            // A pool's entries share a name but not an address: each keeps its own (that of
            // its key exchange, under NTS).
            ServerReport entry = reports[static_cast<std::size_t>(roster.probeOf[i])];
            entry.name = roster.entries[i].name;
            entry.address = roster.entries[i].address;
            result.servers.push_back(std::move(entry));
        }
    }
    ExplainServers(settings, lookUps.byTimeLimit, &result.servers);
    return result;
}

const char* SetKindName(SetKind kind) {
    switch (kind) {
        case SetKind::kNotRequested:
            return "not requested";
        case SetKind::kDone:
            return "done";
        case SetKind::kRefused:
            return "refused";
        case SetKind::kFailed:
            return "failed";
    }
    return "?";
}

SetOutcome SetClockFromCheck(const CheckResult& result, bool limitStep, double maxStep,
                             TimeClient* client) {
    SetOutcome outcome;
    outcome.kind = SetKind::kRefused;
    if (result.answered == 0) {
        outcome.reason = "no server gave a usable answer";
    } else if (!result.refusal.empty()) {
        outcome.reason = result.refusal;
    } else if (!result.valid) {
        outcome.reason = !result.majority ? "the servers that answered do not agree by a majority"
                                          : "only " + std::to_string(result.agree) + " of the " +
                                                std::to_string(result.asked) +
                                                " servers asked agree, fewer than the " +
                                                std::to_string(result.minAgree) + " required";
    } else if (limitStep && std::fabs(result.offset) > maxStep) {
        outcome.reason = "the correction is larger than --max-step";
    } else {
        NtpTimestamp target;
        if (CorrectedClockTime(result.offset, &target) && client->SetClock(&target)) {
            outcome.kind = SetKind::kDone;
        } else {
            outcome.kind = SetKind::kFailed;
            outcome.reason = platform::ErrorReason(platform::LastError());
        }
    }
    if (outcome.kind == SetKind::kRefused && result.localClockBeforeRelease) {
        outcome.reason += "; " + LocalClockBeforeReleaseText(result);
    }
    return outcome;
}

std::string ReferenceIdText(const sntp::ServerHeader& header) {
    const std::uint32_t id = header.referenceId;
    if (header.stratum <= 1) {
        std::string code;
        for (int shift = 24; shift >= 0 && (id >> shift & 0xFF) != 0; shift -= 8) {
            code += static_cast<char>(id >> shift & 0xFF);
        }
        return code;
    }
    return std::to_string(id >> 24) + "." + std::to_string(id >> 16 & 0xFF) + "." +
           std::to_string(id >> 8 & 0xFF) + "." + std::to_string(id & 0xFF);
}

}  // namespace check
