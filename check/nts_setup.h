// NTS before a check's NTP exchange: the key exchange with every server asked, all at once
// and within one time-out, then a look-up of the NTP server each exchange names, within
// another. A server whose key exchange fails is never asked without NTS.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "check/clock_check.h"
#include "check/nts_session.h"
#include "check/server_roster.h"
#include "platform/dual_stack.h"

namespace check {

struct NtsStart {
    bool ok = false;
    std::string error;                   // why not, for people
    platform::SocketAddress ntpAddress;  // where the authenticated requests go
    std::unique_ptr<NtsSession> session;
    nts::CertificateWindow certificate;  // of the key exchange's chain
    int sameAs = -1;  // an earlier server whose key exchange named the same NTP server
};

// One start per server, in order.
std::vector<NtsStart> StartNts(const std::vector<ServerTarget>& servers,
                               const CheckSettings& settings);

}  // namespace check
