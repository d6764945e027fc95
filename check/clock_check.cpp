#include "check/clock_check.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "check/clock_selection.h"
#include "check/server_probe.h"
#include "net/deadline.h"
#include "platform/platform.h"

namespace check {
namespace {

using Clock = ServerProbe::Clock;

// Asks every opened probe until all are finished: one wait over all their sockets.
void Exchange(const std::vector<std::unique_ptr<ServerProbe>>& probes) {
    std::vector<ServerProbe*> waiting;
    std::vector<SOCKET> sockets;
    const auto readable = std::make_unique<bool[]>(probes.size());
    for (;;) {
        const Clock::time_point now = Clock::now();
        waiting.clear();
        sockets.clear();
        Clock::time_point next = Clock::time_point::max();
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

void Select(const CheckSettings& settings, CheckResult* result) {
    std::vector<Candidate> candidates;
    std::vector<ServerReport*> measured;
    for (ServerReport& server : result->servers) {
        if (server.status == ServerStatus::kOk) {
            candidates.push_back(
                {server.best.offset, server.errorBound + settings.toleranceSeconds});
            measured.push_back(&server);
        }
    }
    const Selection selection = SelectSurvivors(candidates);
    result->answered = static_cast<int>(candidates.size());
    result->agree = static_cast<int>(selection.survivors);
    result->valid = selection.valid;
    result->offset = selection.offset;
    for (std::size_t i = 0; i < measured.size(); ++i) {
        if (selection.survivor[i]) {
            result->errorBound = std::max(result->errorBound, measured[i]->errorBound);
        } else {
            measured[i]->status = ServerStatus::kFalseticker;
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
    }
    return "?";
}

CheckResult RunClockCheck(const std::vector<std::string>& servers, const CheckSettings& settings) {
    // Every name is resolved first; then all servers are asked at once. A server that
    // cannot be opened is finished from the start.
    std::vector<std::unique_ptr<ServerProbe>> probes;
    for (const std::string& name : servers) {
        probes.push_back(std::make_unique<ServerProbe>(name, settings));
        probes.back()->Open();
    }
    Exchange(probes);

    CheckResult result;
    for (const auto& probe : probes) {
        result.servers.push_back(probe->Report());
    }
    Select(settings, &result);
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
    } else if (!result.valid) {
        outcome.reason = "the servers that answered do not agree by a majority";
    } else if (limitStep && std::fabs(result.offset) > maxStep) {
        outcome.reason = "the correction is larger than --max-step";
    } else {
        NtpTimestamp target;
        if (CorrectedClockTime(result.offset, &target) && client->SetClock(&target)) {
            outcome.kind = SetKind::kDone;
        } else {
            outcome.kind = SetKind::kFailed;
            outcome.reason = "last-error code " + std::to_string(platform::LastError());
        }
    }
    return outcome;
}

std::string ReferenceIdText(const sntp::ServerHeader& header) {
    const std::uint32_t id = header.referenceId;
    if (header.stratum <= 1) {
        std::string code;
        for (int shift = 24; shift >= 0 && (id >> shift & 0xFF) != 0; shift -= 8) {
            const char c = static_cast<char>(id >> shift & 0xFF);
            code += (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        return code;
    }
    return std::to_string(id >> 24) + "." + std::to_string(id >> 16 & 0xFF) + "." +
           std::to_string(id >> 8 & 0xFF) + "." + std::to_string(id & 0xFF);
}

}  // namespace check
