// A one-shot check of the local clock against several servers at once: every server is
// asked concurrently (a silent one costs its time-out once), the best of each server's
// samples is kept, and clock selection decides which servers agree and what the clock's
// offset is.
#pragma once

#include <string>
#include <vector>

#include "net/sntp_packet.h"
#include "net/time_client.h"
#include "platform/dual_stack.h"

namespace check {

struct CheckSettings {
    int samples = 1;               // answers wanted per server
    double intervalSeconds = 2.0;  // between two requests to one server
    double timeoutSeconds = 5.0;   // for each request's answer
    int port = 123;
    platform::AddressFamily family = platform::AddressFamily::kAny;
    double toleranceSeconds = 0.1;  // added to every error bound for the agreement
};

enum class ServerStatus { kOk, kFalseticker, kNoAnswer, kRejected, kKissOfDeath, kUnresolved };

// "ok", "falseticker", "no answer", "rejected", "kod", "unresolved".
const char* StatusName(ServerStatus status);

// The sample of a server with the smallest round-trip delay.
struct Measurement {
    double offset = 0.0;  // seconds to add to the local clock
    double delay = 0.0;   // round trip, seconds
    sntp::ServerHeader header;
};

struct ServerReport {
    std::string name;
    std::string address;  // empty when unresolved
    ServerStatus status = ServerStatus::kNoAnswer;
    std::string kissCode;  // of a Kiss-o'-Death
    bool measured = false;
    Measurement best;
    // delay / 2 + root delay / 2 + root dispersion: how far the true offset may lie from
    // best.offset (without the tolerance).
    double errorBound = 0.0;
    sntp::AnswerCheck rejection = sntp::AnswerCheck::kAccepted;  // of the last rejected answer
    DWORD error = 0;  // resolver or socket code of an unresolved or failed server
};

struct CheckResult {
    std::vector<ServerReport> servers;
    int answered = 0;  // servers with a usable sample
    int agree = 0;     // survivors of the selection
    // The survivors are a strict majority of the servers that answered.
    bool valid = false;
    double offset = 0.0;      // median of the survivors' offsets
    double errorBound = 0.0;  // largest survivor error bound
};

CheckResult RunClockCheck(const std::vector<std::string>& servers, const CheckSettings& settings);

enum class SetKind { kNotRequested, kDone, kRefused, kFailed };
// "not requested", "done", "refused", "failed".
const char* SetKindName(SetKind kind);

struct SetOutcome {
    SetKind kind = SetKind::kNotRequested;
    std::string reason;  // why it was refused or failed
};

// Sets the clock to now plus the combined offset, through client (the privilege handling
// of the window's Adjust), but only from a valid result and a correction no larger than
// maxStep (when limitStep): never from a falseticker, a Kiss-o'-Death or no answer.
SetOutcome SetClockFromCheck(const CheckResult& result, bool limitStep, double maxStep,
                             TimeClient* client);

// The reference id as people read it: the kiss or source code ("RATE", "GPS") of stratum 0
// and 1, a dotted address above.
std::string ReferenceIdText(const sntp::ServerHeader& header);

}  // namespace check
