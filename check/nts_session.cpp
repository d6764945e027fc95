#include "check/nts_session.h"

#include <algorithm>

#include "nts/wipe.h"
#include "platform/platform.h"

namespace check {

NtsSession::NtsSession(const nts::NtsKeys& keys,
                       const std::vector<std::vector<std::uint8_t>>& cookies)
    : m_keys(keys), m_cookies(cookies.begin(), cookies.end()) {}

NtsSession::~NtsSession() {
    nts::WipeCookies(&m_cookies);
}

BOOL NtsSession::BuildRequest(const NtpTimestamp& transmitNonce, int requestsAfter,
                              std::vector<std::uint8_t>* packet, UniqueId* id) {
    if (m_cookies.empty()) {
        platform::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (!platform::RandomBytes(id->data(), id->size())) {
        return FALSE;
    }
    // Spent whatever becomes of the request: a cookie sent twice would let an observer link
    // the two requests.
    std::vector<std::uint8_t> cookie = std::move(m_cookies.front());
    m_cookies.pop_front();
    const int wanted = std::max(0, requestsAfter - static_cast<int>(m_cookies.size()));
    const int placeholders = std::min(wanted, static_cast<int>(nts::kMaxCookies) - 1);
    const bool built =
        nts::BuildNtsRequest(transmitNonce, id->data(), cookie, placeholders, m_keys, packet);
    nts::WipeBytes(&cookie);
    if (!built) {
        platform::SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    return TRUE;
}

nts::NtsAnswer NtsSession::CheckAnswer(const std::uint8_t* packet, std::size_t size,
                                       const UniqueId& id) {
    std::vector<std::vector<std::uint8_t>> fresh;
    const nts::NtsAnswer verdict = nts::CheckNtsAnswer(packet, size, id.data(), m_keys, &fresh);
    if (verdict == nts::NtsAnswer::kAuthentic) {
        for (auto& cookie : fresh) {
            if (m_cookies.size() < nts::kMaxCookies) {
                m_cookies.push_back(std::move(cookie));
            }
        }
    }
    nts::WipeCookies(&fresh);  // those not kept
    return verdict;
}

}  // namespace check
