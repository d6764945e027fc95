// The two keys of an NTS association, as the key exchange exports them from TLS.
// (Stands in for nts/nts_fields.h until that is here.)
#pragma once

#include <cstdint>

namespace nts {

struct NtsKeys {
    std::uint8_t clientToServer[32];
    std::uint8_t serverToClient[32];
};

}  // namespace nts
