// What a check holds of one server after its NTS key exchange: the two keys and the unused
// cookies. Each request spends one cookie, which is never sent again, and asks for as many
// new ones as the remaining requests need; only an authentic answer hands out cookies.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <vector>

#include "nts/nts_fields.h"
#include "time/ntp_timestamp.h"

namespace check {

using UniqueId = std::array<std::uint8_t, nts::kUniqueIdSize>;

class NtsSession {
public:
    NtsSession(const nts::NtsKeys& keys, const std::vector<std::vector<std::uint8_t>>& cookies);
    ~NtsSession();  // wipes the cookies left (the keys wipe themselves)
    NtsSession(const NtsSession&) = delete;
    NtsSession& operator=(const NtsSession&) = delete;

    // An authenticated request carrying transmitNonce, and its fresh unique identifier;
    // requestsAfter tells how many more requests will follow. FALSE (with a last-error code)
    // when no cookie is left or no random identifier could be had.
    BOOL BuildRequest(const NtpTimestamp& transmitNonce, int requestsAfter,
                      std::vector<std::uint8_t>* packet, UniqueId* id);

    // Whether packet answers the request with identifier id: only a kAuthentic one is to be
    // believed, and its new cookies are kept for later requests.
    nts::NtsAnswer CheckAnswer(const std::uint8_t* packet, std::size_t size, const UniqueId& id);

    std::size_t CookiesLeft() const { return m_cookies.size(); }

private:
    nts::NtsKeys m_keys;
    std::deque<std::vector<std::uint8_t>> m_cookies;
};

}  // namespace check
