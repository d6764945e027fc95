// The NTPv4 extension fields of an NTS exchange (RFC 8915): the authenticated request, and
// the judgement of an answer to it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "time/ntp_timestamp.h"

namespace nts {

// Every copy is wiped when it goes (nts/wipe.cpp).
struct NtsKeys {
    ~NtsKeys();
    std::uint8_t clientToServer[32];
    std::uint8_t serverToClient[32];
};

constexpr std::uint16_t kUniqueIdentifierField = 0x0104;
constexpr std::uint16_t kCookieField = 0x0204;
constexpr std::uint16_t kCookiePlaceholderField = 0x0304;
constexpr std::uint16_t kAuthenticatorField = 0x0404;

constexpr std::size_t kUniqueIdSize = 32;
constexpr std::size_t kNonceSize = 16;
// Bounds on what a server may hand out: more is ignored (cookies) or refused (requests).
constexpr std::size_t kMaxCookieSize = 1024;
constexpr std::size_t kMaxCookies = 8;

// 48-byte NTPv4 client header (first byte 0x23, transmit field = nonce, all else zero), then
// Unique Identifier (0x0104, the 32 bytes given), NTS Cookie (0x0204, cookie), `placeholders`
// Cookie Placeholders (0x0304, as long as the cookie) and last the Authenticator (0x0404,
// fresh random 16-byte nonce, SIV over everything before it with keys.clientToServer).
// False when the cookie is empty or longer than kMaxCookieSize, placeholders is outside
// 0 to kMaxCookies - 1, or no random nonce could be had.
bool BuildNtsRequest(const NtpTimestamp& transmitNonce, const std::uint8_t uniqueId[32],
                     const std::vector<std::uint8_t>& cookie, int placeholders, const NtsKeys& keys,
                     std::vector<std::uint8_t>* packet);

enum class NtsAnswer { kAuthentic, kNak, kNotOurs, kUnauthentic, kMalformed };

// kNotOurs: no Unique Identifier field echoing uniqueId (a stray: dropped like any other);
// kNak: a Kiss-o'-Death NTSN echoing uniqueId without an authenticator; kAuthentic: the
// authenticator verifies with keys.serverToClient, nothing unauthenticated follows it, and
// *cookies gets the new cookies from the encrypted fields (at most kMaxCookies, each 1 to
// kMaxCookieSize bytes; others are left out). kUnauthentic: ours, but without an
// authenticator, with fields after it, or failing it. kMalformed: shorter than a header, or
// fields (outer, or inner once authentic) that do not parse. Only kAuthentic fills *cookies;
// every other answer leaves it empty. The header itself is for sntp::CheckAnswer to judge.
NtsAnswer CheckNtsAnswer(const std::uint8_t* packet, std::size_t size,
                         const std::uint8_t uniqueId[32], const NtsKeys& keys,
                         std::vector<std::vector<std::uint8_t>>* cookies);

}  // namespace nts
