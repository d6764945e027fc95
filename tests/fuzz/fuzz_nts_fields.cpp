// The NTS extension fields of an answer: any bytes a server (or anyone on the path) may send
// back, and the request built from any cookie.
//
// Input: one byte choosing the form, then its bytes:
//   0  a whole answer as received;
//   1  the fields between the header and the authenticator, sealed by a real server key;
//   2  the encrypted fields inside an authentic answer echoing our identifier;
//   3  two bytes of position, then inner fields as in 2: that answer with one byte changed;
//   4  a placeholder count, then a cookie: the request built from them.
// Checks that only an authentic answer yields cookies, within their bounds and as sealed;
// that no changed byte of a sealed answer passes; that a NAK is what it claims; and that a
// request has its fields where they belong, its authenticator last and verifying.
#include <cstdint>
#include <cstring>
#include <vector>

#include "nts/aes_siv.h"
#include "nts/extension_field.h"
#include "nts/nts_fields.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Cookies = std::vector<Bytes>;

struct Setup {
    Setup() {
        for (int i = 0; i < 32; ++i) {
            keys.clientToServer[i] = static_cast<std::uint8_t>(i);
            keys.serverToClient[i] = static_cast<std::uint8_t>(0x40 + i);
            uniqueId[i] = static_cast<std::uint8_t>(0x80 + i);
        }
    }
    nts::NtsKeys keys{};
    std::uint8_t uniqueId[32] = {};
};

const Setup& Fixed() {
    static const Setup setup;
    return setup;
}

Bytes ServerHeader() {
    Bytes header(48, 0);
    header[0] = 0x24;
    header[1] = 2;
    return header;
}

Bytes UniqueIdField() {
    Bytes field;
    nts::AppendExtensionField(nts::kUniqueIdentifierField, nts::ByteSpan{Fixed().uniqueId, 32},
                              &field);
    return field;
}

// header + outer + an authenticator sealing inner with the server's key.
Bytes Sealed(const Bytes& outer, const Bytes& inner, std::size_t* authenticatorEnd) {
    Bytes packet = ServerHeader();
    packet.insert(packet.end(), outer.begin(), outer.end());
    static const std::uint8_t kNonce[16] = {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    Bytes sealed;
    FUZZ_CHECK(nts::AesSivSeal(Fixed().keys.serverToClient,
                               {nts::SpanOf(packet), nts::ByteSpan{kNonce, sizeof kNonce}},
                               inner.data(), inner.size(), &sealed));
    if (sealed.size() > 0xFFFF - 4 - 16 - 8) {
        return Bytes();
    }
    Bytes body = {0, 16, static_cast<std::uint8_t>(sealed.size() >> 8),
                  static_cast<std::uint8_t>(sealed.size())};
    body.insert(body.end(), kNonce, kNonce + sizeof kNonce);
    body.insert(body.end(), sealed.begin(), sealed.end());
    *authenticatorEnd = packet.size() + 4 + body.size();
    FUZZ_CHECK(nts::AppendExtensionField(nts::kAuthenticatorField, nts::SpanOf(body), &packet));
    return packet;
}

nts::NtsAnswer Check(const Bytes& packet, Cookies* cookies) {
    // An exact-size copy, so that a read past the end is an ASan report.
    const Bytes exact(packet);
    const nts::NtsAnswer verdict =
        nts::CheckNtsAnswer(exact.empty() ? nullptr : exact.data(), exact.size(), Fixed().uniqueId,
                            Fixed().keys, cookies);
    if (verdict != nts::NtsAnswer::kAuthentic) {
        FUZZ_CHECK(cookies->empty());
    }
    FUZZ_CHECK(cookies->size() <= nts::kMaxCookies);
    for (const Bytes& cookie : *cookies) {
        FUZZ_CHECK(!cookie.empty() && cookie.size() <= nts::kMaxCookieSize);
        FUZZ_CHECK(cookie.size() % 4 == 0);
    }
    if (packet.size() < 48) {
        FUZZ_CHECK(verdict == nts::NtsAnswer::kMalformed);
    }
    if (verdict == nts::NtsAnswer::kNak) {
        FUZZ_CHECK((packet[0] & 7) == 4 && packet[1] == 0);
        FUZZ_CHECK(std::memcmp(packet.data() + 12, "NTSN", 4) == 0);
    }
    return verdict;
}

// Every cookie returned is a cookie field's body in the bytes that were sealed.
bool CookiesComeFrom(const Cookies& cookies, const Bytes& inner) {
    for (const Bytes& cookie : cookies) {
        bool found = false;
        for (std::size_t at = 0; !found && at + 4 + cookie.size() <= inner.size(); at += 4) {
            found = inner[at] == 0x02 && inner[at + 1] == 0x04 &&
                    std::memcmp(inner.data() + at + 4, cookie.data(), cookie.size()) == 0;
        }
        if (!found) {
            return false;
        }
    }
    return true;
}

void CheckRequest(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return;
    }
    const int placeholders = data[0] % 10 - 1;  // -1 to 8: both bounds crossed
    const Bytes cookie(data + 1, data + size);
    Bytes request;
    const bool built = nts::BuildNtsRequest(NtpTimestamp::FromParts(1, 2), Fixed().uniqueId, cookie,
                                            placeholders, Fixed().keys, &request);
    const bool allowed = !cookie.empty() && cookie.size() <= nts::kMaxCookieSize &&
                         placeholders >= 0 && placeholders < 8;
    FUZZ_CHECK(built == allowed);
    if (!built) {
        return;
    }
    const std::size_t field = 4 + (cookie.size() + 3) / 4 * 4;
    FUZZ_CHECK(request.size() == 48 + 36 + field * (1 + placeholders) + 40);
    FUZZ_CHECK(request[0] == 0x23);
    std::size_t offset = 48;
    nts::ExtensionField read;
    int count = 0;
    while (offset < request.size()) {
        FUZZ_CHECK(nts::ReadExtensionField(request.data(), request.size(), &offset, &read));
        ++count;
    }
    FUZZ_CHECK(count == 3 + placeholders && read.type == nts::kAuthenticatorField);
    FUZZ_CHECK(read.body.size == 36);
    FUZZ_CHECK(std::memcmp(request.data() + 48 + 4, Fixed().uniqueId, 32) == 0);
    FUZZ_CHECK(std::memcmp(request.data() + 48 + 36 + 4, cookie.data(), cookie.size()) == 0);
    Bytes plain;
    FUZZ_CHECK(nts::AesSivOpen(
        Fixed().keys.clientToServer,
        {nts::ByteSpan{request.data(), read.start}, nts::ByteSpan{read.body.data + 4, 16}},
        read.body.data + 20, 16, &plain));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint8_t form = data[0];
    const Bytes rest(data + 1, data + size);
    Cookies cookies;
    std::size_t end = 0;
    switch (form % 5) {
        case 0:
            Check(rest, &cookies);
            break;
        case 1: {
            // Our identifier may or may not be among them; what passes carries no cookie.
            const Bytes packet = Sealed(rest, Bytes(), &end);
            FUZZ_CHECK(Check(packet, &cookies) != nts::NtsAnswer::kNak);
            FUZZ_CHECK(cookies.empty());
            break;
        }
        case 2: {
            const Bytes packet = Sealed(UniqueIdField(), rest, &end);
            if (packet.empty()) {
                break;
            }
            const nts::NtsAnswer verdict = Check(packet, &cookies);
            FUZZ_CHECK(verdict == nts::NtsAnswer::kAuthentic ||
                       verdict == nts::NtsAnswer::kMalformed);
            FUZZ_CHECK(CookiesComeFrom(cookies, rest));
            break;
        }
        case 3: {
            if (rest.size() < 2) {
                break;
            }
            const Bytes inner(rest.begin() + 2, rest.end());
            Bytes packet = Sealed(UniqueIdField(), inner, &end);
            if (packet.empty()) {
                break;
            }
            // Any byte up to the end of the ciphertext; only padding after it is not sealed.
            const std::size_t at = (static_cast<std::size_t>(rest[0]) << 8 | rest[1]) % end;
            packet[at] ^= 0x01;
            FUZZ_CHECK(Check(packet, &cookies) != nts::NtsAnswer::kAuthentic);
            break;
        }
        default:
            CheckRequest(rest.data(), rest.size());
            break;
    }
    return 0;
}
