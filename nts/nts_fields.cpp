#include "nts/nts_fields.h"

#include <mbedtls/platform_util.h>

#include <cstring>

#include "net/sntp_packet.h"
#include "nts/aes_siv.h"
#include "nts/extension_field.h"
#include "nts/wipe.h"
#include "platform/platform.h"

namespace nts {
namespace {

// Leap indicator 0, version 4, mode 3 (client).
constexpr std::uint8_t kNtpV4ClientByte = 0x23;
constexpr std::size_t kTransmitOffset = 40;
constexpr std::size_t kReferenceIdOffset = 12;
// More fields than an answer of ours can hold is no answer of ours.
constexpr int kMaxFields = 64;
constexpr std::size_t kAuthenticatorHeader = 4;  // nonce length, ciphertext length

std::uint16_t Read16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::size_t Padded(std::size_t size) {
    return (size + 3) / 4 * 4;
}

bool IsNtsNak(const std::uint8_t* packet, std::size_t size) {
    static const std::uint8_t kCode[4] = {'N', 'T', 'S', 'N'};
    return sntp::IsKissOfDeath(packet, static_cast<int>(size)) &&
           std::memcmp(packet + kReferenceIdOffset, kCode, sizeof kCode) == 0;
}

bool EchoesUniqueId(const ExtensionField& field, const std::uint8_t* uniqueId) {
    return field.type == kUniqueIdentifierField && field.body.size == kUniqueIdSize &&
           std::memcmp(field.body.data, uniqueId, kUniqueIdSize) == 0;
}

// The nonce and the ciphertext (tag first) of an authenticator's body.
bool SplitAuthenticator(ByteSpan body, ByteSpan* nonce, ByteSpan* ciphertext) {
    if (body.size < kAuthenticatorHeader) {
        return false;
    }
    const std::size_t nonceSize = Read16(body.data);
    const std::size_t cipherSize = Read16(body.data + 2);
    // Padding after each, then room for more padding (a client's); nothing larger fits.
    if (nonceSize == 0 || cipherSize < kAesSivTagSize ||
        kAuthenticatorHeader + Padded(nonceSize) + Padded(cipherSize) > body.size) {
        return false;
    }
    *nonce = ByteSpan{body.data + kAuthenticatorHeader, nonceSize};
    *ciphertext = ByteSpan{body.data + kAuthenticatorHeader + Padded(nonceSize), cipherSize};
    return true;
}

// The cookies among the decrypted fields; false when they do not parse.
bool ReadCookies(const std::vector<std::uint8_t>& plain,
                 std::vector<std::vector<std::uint8_t>>* cookies) {
    std::size_t offset = 0;
    int count = 0;
    ExtensionField field;
    while (offset < plain.size()) {
        if (++count > kMaxFields ||
            !ReadExtensionField(plain.data(), plain.size(), &offset, &field)) {
            return false;
        }
        if (field.type == kCookieField && field.body.size > 0 &&
            field.body.size <= kMaxCookieSize && cookies->size() < kMaxCookies) {
            cookies->emplace_back(field.body.data, field.body.data + field.body.size);
        }
    }
    return true;
}

}  // namespace

bool BuildNtsRequest(const NtpTimestamp& transmitNonce, const std::uint8_t uniqueId[32],
                     const std::vector<std::uint8_t>& cookie, int placeholders, const NtsKeys& keys,
                     std::vector<std::uint8_t>* packet) {
    if (packet == nullptr || uniqueId == nullptr || cookie.empty() ||
        cookie.size() > kMaxCookieSize || placeholders < 0 ||
        static_cast<std::size_t>(placeholders) >= kMaxCookies) {
        return false;
    }
    std::vector<std::uint8_t> out(sntp::kPacketSize, 0);
    out[0] = kNtpV4ClientByte;
    const NtpWireTimestamp wire = transmitNonce.ToNetwork();
    std::memcpy(out.data() + kTransmitOffset, wire.bytes, sizeof wire.bytes);

    bool ok =
        AppendExtensionField(kUniqueIdentifierField, ByteSpan{uniqueId, kUniqueIdSize}, &out) &&
        AppendExtensionField(kCookieField, SpanOf(cookie), &out);
    for (int i = 0; ok && i < placeholders; ++i) {
        ok = AppendExtensionField(kCookiePlaceholderField, ByteSpan{nullptr, cookie.size()}, &out);
    }
    std::uint8_t nonce[kNonceSize];
    std::vector<std::uint8_t> tag;
    if (!ok || !platform::RandomBytes(nonce, sizeof nonce) ||
        !AesSivSeal(keys.clientToServer, {SpanOf(out), ByteSpan{nonce, sizeof nonce}}, nullptr, 0,
                    &tag)) {
        return false;
    }
    std::vector<std::uint8_t> body = {0, kNonceSize, 0, static_cast<std::uint8_t>(tag.size())};
    body.insert(body.end(), nonce, nonce + sizeof nonce);
    body.insert(body.end(), tag.begin(), tag.end());
    if (!AppendExtensionField(kAuthenticatorField, SpanOf(body), &out)) {
        return false;
    }
    *packet = std::move(out);
    return true;
}

NtsAnswer CheckNtsAnswer(const std::uint8_t* packet, std::size_t size,
                         const std::uint8_t uniqueId[32], const NtsKeys& keys,
                         std::vector<std::vector<std::uint8_t>>* cookies) {
    std::vector<std::vector<std::uint8_t>> unwanted;
    if (cookies == nullptr) {
        cookies = &unwanted;
    }
    WipeCookies(cookies);
    if (packet == nullptr || size < static_cast<std::size_t>(sntp::kPacketSize)) {
        return NtsAnswer::kMalformed;
    }
    // Only what comes before the authenticator is authenticated by it; a field after it
    // is one that anybody on the path may have added.
    bool ours = false;
    bool authenticated = false;
    bool trailing = false;
    ExtensionField authenticator;
    ExtensionField field;
    std::size_t offset = sntp::kPacketSize;
    for (int count = 1; offset < size; ++count) {
        if (count > kMaxFields || !ReadExtensionField(packet, size, &offset, &field)) {
            return NtsAnswer::kMalformed;
        }
        if (authenticated) {
            trailing = true;
        } else if (field.type == kAuthenticatorField) {
            authenticator = field;
            authenticated = true;
        } else if (EchoesUniqueId(field, uniqueId)) {
            ours = true;
        }
    }
    if (!ours) {
        return NtsAnswer::kNotOurs;
    }
    if (!authenticated) {
        return IsNtsNak(packet, size) ? NtsAnswer::kNak : NtsAnswer::kUnauthentic;
    }
    if (trailing) {
        return NtsAnswer::kUnauthentic;
    }
    ByteSpan nonce;
    ByteSpan ciphertext;
    if (!SplitAuthenticator(authenticator.body, &nonce, &ciphertext)) {
        return NtsAnswer::kMalformed;
    }
    std::vector<std::uint8_t> plain;
    if (!AesSivOpen(keys.serverToClient, {ByteSpan{packet, authenticator.start}, nonce},
                    ciphertext.data, ciphertext.size, &plain)) {
        return NtsAnswer::kUnauthentic;
    }
    const bool parsed = ReadCookies(plain, cookies);
    WipeBytes(&plain);
    if (!parsed) {
        WipeCookies(cookies);
        return NtsAnswer::kMalformed;
    }
    return NtsAnswer::kAuthentic;
}

}  // namespace nts
