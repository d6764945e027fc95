// A one-shot check of the local clock against several servers at once: every server is
// asked concurrently (a silent one costs its time-out once), the best of each server's
// samples is kept, and clock selection decides which servers agree and what the clock's
// offset is.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "net/deadline.h"
#include "net/sntp_packet.h"
#include "net/time_client.h"
#include "nts/certificate_window.h"
#include "platform/dual_stack.h"

namespace check {

struct CheckSettings {
    int samples = 1;               // answers wanted per server
    double intervalSeconds = 2.0;  // between two requests to one server
    double timeoutSeconds = 5.0;   // for each request's answer
    int port = 123;
    platform::AddressFamily family = platform::AddressFamily::kAny;
    double toleranceSeconds = 0.1;  // added to every error bound for the agreement
    // An answer whose root distance (root delay / 2 + root dispersion) is larger says its
    // server does not know the time well enough to take part (ntpd's default limit).
    double maxDistanceSeconds = 1.5;
    // A sample whose round trip took longer is not used: a clock stepped during it, or an
    // answer held on the path, gives an error bound that agrees with anything (chrony's).
    double maxDelaySeconds = 3.0;
    // Servers that must agree for a valid result; 0: a strict majority of those asked.
    int minAgree = 0;
    // NTS: every server is asked through a key exchange and authenticated requests.
    bool nts = false;
    int ntsPort = 4460;  // of the key exchange
    std::string caFile;  // PEM roots that replace the system's; empty: the system's
    // Whose clock judges the certificates' validity (check/agreed_time.h).
    nts::CertificateTime certificateTime = nts::CertificateTime::kAgreed;
    // --time-limit: the whole run ends here; what is unfinished then counts as not answered.
    Deadline runEnd = Deadline::max();
};

// A server as named on the command line: one server, or a pool whose name stands for
// several (up to kPoolAddresses of them are asked).
struct NamedServer {
    NamedServer(const char* serverName) : name(serverName) {}  // NOLINT: a name is a server
    NamedServer(std::string serverName, bool isPool = false)   // NOLINT: likewise
        : name(std::move(serverName)), pool(isPool) {}
    std::string name;
    bool pool = false;
};

enum class ServerStatus {
    kOk,
    kFalseticker,
    kNoAnswer,
    kRejected,
    kKissOfDeath,
    kUnresolved,
    kDuplicate,  // its address was asked for another entry, which votes for it
    kNtsFailed,  // its NTS key exchange failed: never asked without NTS
};

// "ok", "falseticker", "no answer", "rejected", "kod", "unresolved", "duplicate",
// "nts failed".
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
    int samples = 0;  // answers believed; the best of them is kept
    Measurement best;
    // delay / 2 + root delay / 2 + root dispersion: how far the true offset may lie from
    // best.offset (without the tolerance).
    double errorBound = 0.0;
    DWORD error = 0;  // resolver or socket code of an unresolved or failed server
    // For people: why the last answer was rejected, or why a look-up failed; may be empty.
    std::string reason;
    std::string duplicateOf;             // the name of the entry asked for a duplicate
    bool authenticated = false;          // its sample came in an answer authenticated by NTS
    std::string ntsError;                // why its NTS key exchange failed
    nts::CertificateWindow certificate;  // of its key exchange's chain; not read: none
    // Where its authenticated requests went (records 6 and 7 of its key exchange, or the
    // key exchange's own address and --port); empty and 0 without NTS or a key exchange.
    std::string ntpAddress;
    int ntpPort = 0;
    bool ntpElsewhere = false;  // not the key exchange's address and --port
};

struct CheckResult {
    std::vector<ServerReport> servers;  // as named
    int asked = 0;                      // distinct servers asked, whatever became of them
    int answered = 0;                   // servers with a usable sample
    int agree = 0;                      // survivors of the selection
    int minAgree = 0;       // survivors needed, --min-agree or a strict majority of those asked
    bool majority = false;  // the survivors are a strict majority of those that answered
    bool nts = false;       // asked through NTS: every sample taken is authenticated
    // A majority, and at least minAgree servers agree.
    bool valid = false;
    double offset = 0.0;      // median of the survivors' offsets
    double errorBound = 0.0;  // largest survivor error bound
    // Some survivor's certificate was believed at the agreed time, not at the local clock.
    bool agreedCertificateTime = false;
    std::int64_t localClock = 0;   // when the result was judged, Unix seconds
    std::int64_t releaseDate = 0;  // this program's, Unix seconds: no result before it
    bool localClockBeforeRelease = false;
    // Why a result that the selection found does not stand (the floor, too few servers for
    // the agreed time); otherwise empty.
    std::string refusal;
};

// Looks every name up at once (within one time-out), asks each distinct address once, and
// selects.
CheckResult RunClockCheck(const std::vector<NamedServer>& servers, const CheckSettings& settings);

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
// and 1 (its bytes up to the first zero, as the server sent them: printing them is the
// printer's care), a dotted address above.
std::string ReferenceIdText(const sntp::ServerHeader& header);

}  // namespace check
