// The NTS key exchange with each server of a check (RFC 8915, section 4): TCP, TLS 1.3 with
// ALPN ntske/1 and a certificate for the name asked, the request, the response's records,
// and the two keys exported from TLS. All servers are asked at once and each exchange ends
// by the deadline, whatever its server does.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "net/deadline.h"
#include "nts/certificate_window.h"
#include "nts/ke_records.h"
#include "nts/nts_fields.h"
#include "platform/dual_stack.h"

namespace nts {

struct KeTarget {
    std::string host;  // a name, or an address literal (IPv6 with or without brackets)
    int port = kKeDefaultPort;
    // Where to connect, already looked up (the check bounds its look-ups itself); when
    // empty, host is looked up here. The certificate must name host either way.
    platform::SocketAddress address;
};

struct KeSettings {
    std::string caFile;  // empty: system trust
    platform::AddressFamily family = platform::AddressFamily::kAny;
    CertificateTime certificateTime = CertificateTime::kLocal;
};

struct KeOutcome {
    bool ok = false;
    std::string error;  // why it failed, for people
    NtsKeys keys{};
    KeResponse response;
    CertificateWindow certificate;                  // of the verified chain
    std::chrono::steady_clock::duration elapsed{};  // from the start to success or failure
};

// One exchange, on the calling thread.
KeOutcome RunKeyExchange(const KeTarget& target, const KeSettings& settings, Deadline deadline);

// All exchanges at once (one thread each, joined), each bounded by deadline; the outcomes
// in the order of targets.
std::vector<KeOutcome> RunKeyExchanges(const std::vector<KeTarget>& targets,
                                       const KeSettings& settings, Deadline deadline);

}  // namespace nts
