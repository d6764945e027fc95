#include "nts/nts_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "nts/aes_siv.h"

namespace nts {

// Failures name the verdict rather than its bytes.
void PrintTo(NtsAnswer answer, std::ostream* out) {
    static const char* const kNames[] = {"kAuthentic", "kNak", "kNotOurs", "kUnauthentic",
                                         "kMalformed"};
    *out << kNames[static_cast<int>(answer)];
}

}  // namespace nts

namespace {

using nts::ByteSpan;
using nts::NtsAnswer;
using Bytes = std::vector<std::uint8_t>;
using Cookies = std::vector<Bytes>;

std::uint16_t Read16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes.at(at) << 8 | bytes.at(at + 1));
}

void Append(Bytes* out, const Bytes& more) {
    out->insert(out->end(), more.begin(), more.end());
}

// One extension field as a server writes it, with `length` to lie about its size.
Bytes Field(std::uint16_t type, const Bytes& body, int length = -1) {
    const std::size_t padded = (body.size() + 3) / 4 * 4;
    const auto written = static_cast<std::size_t>(length >= 0 ? length : 4 + padded);
    Bytes field(4 + padded, 0);
    field[0] = static_cast<std::uint8_t>(type >> 8);
    field[1] = static_cast<std::uint8_t>(type);
    field[2] = static_cast<std::uint8_t>(written >> 8);
    field[3] = static_cast<std::uint8_t>(written);
    std::copy(body.begin(), body.end(), field.begin() + 4);
    return field;
}

Bytes Header(std::uint8_t stratum = 2, const char* referenceId = "GPS\0") {
    Bytes header(48, 0);
    header[0] = 0x24;  // NTPv4, server
    header[1] = stratum;
    std::memcpy(header.data() + 12, referenceId, 4);
    return header;
}

// A server's answer: the header, the fields before the authenticator, the authenticator
// sealing `inner` over everything before it, then `trailing` (which nobody should send).
struct ServerAnswer {
    Bytes header = Header();
    Bytes outer;
    Bytes inner;
    Bytes trailing;
    bool authenticator = true;
    Bytes nonce = Bytes(16, 0x5A);

    Bytes Encode(const std::uint8_t key[32]) const {
        Bytes packet = header;
        Append(&packet, outer);
        if (authenticator) {
            Bytes sealed;
            EXPECT_TRUE(
                nts::AesSivSeal(key, {ByteSpan{packet.data(), packet.size()}, nts::SpanOf(nonce)},
                                inner.data(), inner.size(), &sealed));
            // Nonce length, ciphertext length, the nonce padded, the ciphertext.
            const std::size_t paddedNonce = (nonce.size() + 3) / 4 * 4;
            Bytes body(4 + paddedNonce + sealed.size(), 0);
            body[1] = static_cast<std::uint8_t>(nonce.size());
            body[2] = static_cast<std::uint8_t>(sealed.size() >> 8);
            body[3] = static_cast<std::uint8_t>(sealed.size());
            std::copy(nonce.begin(), nonce.end(), body.begin() + 4);
            std::copy(sealed.begin(), sealed.end(), body.begin() + 4 + paddedNonce);
            Append(&packet, Field(nts::kAuthenticatorField, body));
        }
        Append(&packet, trailing);
        return packet;
    }
};

class NtsFields : public testing::Test {
protected:
    NtsFields() {
        for (std::size_t i = 0; i < 32; ++i) {
            keys_.clientToServer[i] = static_cast<std::uint8_t>(0x10 + i);
            keys_.serverToClient[i] = static_cast<std::uint8_t>(0x80 + i);
        }
    }

    // The answer chrony gives: our identifier outside, new cookies inside.
    ServerAnswer Answer(const Cookies& cookies) const {
        ServerAnswer answer;
        answer.outer = Field(nts::kUniqueIdentifierField, uniqueId_);
        for (const Bytes& cookie : cookies) {
            Append(&answer.inner, Field(nts::kCookieField, cookie));
        }
        return answer;
    }

    NtsAnswer Check(const Bytes& packet, Cookies* cookies) const {
        return nts::CheckNtsAnswer(packet.data(), packet.size(), uniqueId_.data(), keys_, cookies);
    }

    nts::NtsKeys keys_{};
    Bytes uniqueId_ = Bytes(32, 0xC1);
    Cookies cookies_ = {Bytes(100, 0xA1), Bytes(100, 0xA2)};
};

// The request as a server reads it: fields in order, each where and as long as it should
// be, and the authenticator verifying with the client-to-server key only.
TEST_F(NtsFields, RequestCarriesItsFieldsInOrderAndAuthenticatesAsAServerChecksIt) {
    const NtpTimestamp nonce = NtpTimestamp::FromParts(0x01234567, 0x89ABCDEF);
    const Bytes cookie = Bytes(101, 0xCC);  // padded to 104 on the wire
    Bytes request;
    ASSERT_TRUE(nts::BuildNtsRequest(nonce, uniqueId_.data(), cookie, 2, keys_, &request));

    ASSERT_EQ(request.size(), 48 + 36 + 3 * 108 + 40);
    Bytes header(48, 0);
    header[0] = 0x23;
    const NtpWireTimestamp wire = nonce.ToNetwork();
    std::memcpy(header.data() + 40, wire.bytes, 8);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 48), header);

    std::size_t at = 48;
    EXPECT_EQ(Read16(request, at), 0x0104);
    EXPECT_EQ(Read16(request, at + 2), 36);
    EXPECT_EQ(Bytes(request.begin() + at + 4, request.begin() + at + 36), uniqueId_);
    at += 36;
    Bytes paddedCookie = cookie;
    paddedCookie.resize(104, 0);
    const Bytes expectedBodies[] = {paddedCookie, Bytes(104, 0), Bytes(104, 0)};
    const std::uint16_t expectedTypes[] = {0x0204, 0x0304, 0x0304};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Read16(request, at), expectedTypes[i]) << i;
        EXPECT_EQ(Read16(request, at + 2), 108) << i;
        EXPECT_EQ(Bytes(request.begin() + at + 4, request.begin() + at + 108), expectedBodies[i]);
        at += 108;
    }
    ASSERT_EQ(Read16(request, at), 0x0404);
    ASSERT_EQ(Read16(request, at + 2), 40);
    EXPECT_EQ(Read16(request, at + 4), 16);
    EXPECT_EQ(Read16(request, at + 6), 16);
    const ByteSpan associated{request.data(), at};
    const ByteSpan authNonce{request.data() + at + 8, 16};
    const std::uint8_t* tag = request.data() + at + 24;
    Bytes plain = {1};
    EXPECT_TRUE(nts::AesSivOpen(keys_.clientToServer, {associated, authNonce}, tag, 16, &plain));
    EXPECT_TRUE(plain.empty());
    EXPECT_FALSE(nts::AesSivOpen(keys_.serverToClient, {associated, authNonce}, tag, 16, &plain));

    // A fresh nonce each time: the same request built again differs only there and in the tag.
    Bytes again;
    ASSERT_TRUE(nts::BuildNtsRequest(nonce, uniqueId_.data(), cookie, 2, keys_, &again));
    ASSERT_EQ(again.size(), request.size());
    EXPECT_TRUE(std::equal(request.begin(), request.begin() + at + 8, again.begin()));
    EXPECT_NE(Bytes(request.begin() + at + 8, request.end()),
              Bytes(again.begin() + at + 8, again.end()));
}

TEST_F(NtsFields, RequestRefusesCookiesAndPlaceholdersOutOfBounds) {
    const NtpTimestamp nonce = NtpTimestamp::FromParts(1, 2);
    Bytes request;
    EXPECT_TRUE(nts::BuildNtsRequest(nonce, uniqueId_.data(), Bytes(1024, 1), 7, keys_, &request));
    EXPECT_EQ(request.size(), 48 + 36 + 8 * 1028 + 40);
    EXPECT_FALSE(nts::BuildNtsRequest(nonce, uniqueId_.data(), Bytes(1025, 1), 0, keys_, &request));
    EXPECT_FALSE(nts::BuildNtsRequest(nonce, uniqueId_.data(), Bytes(), 0, keys_, &request));
    EXPECT_FALSE(nts::BuildNtsRequest(nonce, uniqueId_.data(), Bytes(64, 1), 8, keys_, &request));
    EXPECT_FALSE(nts::BuildNtsRequest(nonce, uniqueId_.data(), Bytes(64, 1), -1, keys_, &request));
}

struct AnswerCase {
    const char* name;
    std::function<void(ServerAnswer*, nts::NtsKeys*)> change;  // before encoding
    std::function<void(Bytes*)> damage;                        // after encoding
    NtsAnswer expected;
    std::size_t cookiesKept;
};

const Bytes kOtherId = Bytes(32, 0xC2);

const AnswerCase kAnswerCases[] = {
    {"Authentic", nullptr, nullptr, NtsAnswer::kAuthentic, 2},
    {"UnknownFieldsInsideAndOutsideAreSkipped",
     [](ServerAnswer* a, nts::NtsKeys*) {
         Append(&a->outer, Field(0x7777, Bytes(12, 7)));
         Bytes inner = Field(0x0104, Bytes(8, 1));
         Append(&inner, a->inner);
         a->inner = inner;
     },
     nullptr, NtsAnswer::kAuthentic, 2},
    {"AtMostEightCookiesAreKept",
     [](ServerAnswer* a, nts::NtsKeys*) {
         for (int i = 0; i < 8; ++i) {
             Append(&a->inner, Field(nts::kCookieField, Bytes(100, i % 2 ? 0xA2 : 0xA1)));
         }
     },
     nullptr, NtsAnswer::kAuthentic, 8},
    {"OversizedOrEmptyCookiesAreLeftOut",
     [](ServerAnswer* a, nts::NtsKeys*) {
         Bytes inner = Field(nts::kCookieField, Bytes(1025, 3));
         Append(&inner, Field(nts::kCookieField, Bytes()));
         Append(&inner, a->inner);
         a->inner = inner;
     },
     nullptr, NtsAnswer::kAuthentic, 2},
    {"ReplayOfAnotherRequestsAnswerIsNotOurs",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->outer = Field(nts::kUniqueIdentifierField, kOtherId);
     },
     nullptr, NtsAnswer::kNotOurs, 0},
    {"UniqueIdAfterTheAuthenticatorIsNotOurs",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->trailing = a->outer;
         a->outer.clear();
     },
     nullptr, NtsAnswer::kNotOurs, 0},
    {"StrippedFieldsAreNotOurs", nullptr, [](Bytes* p) { p->resize(48); }, NtsAnswer::kNotOurs, 0},
    {"NakEchoingOurId",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->header = Header(0, "NTSN");
         a->authenticator = false;
     },
     nullptr, NtsAnswer::kNak, 0},
    {"NakForAnotherRequestIsNotOurs",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->header = Header(0, "NTSN");
         a->outer = Field(nts::kUniqueIdentifierField, kOtherId);
         a->authenticator = false;
     },
     nullptr, NtsAnswer::kNotOurs, 0},
    {"OtherKissOfDeathWithoutAuthenticator",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->header = Header(0, "RATE");
         a->authenticator = false;
     },
     nullptr, NtsAnswer::kUnauthentic, 0},
    {"NoAuthenticator", [](ServerAnswer* a, nts::NtsKeys*) { a->authenticator = false; }, nullptr,
     NtsAnswer::kUnauthentic, 0},
    {"SealedWithTheClientKey",
     [](ServerAnswer*, nts::NtsKeys* k) { std::memcpy(k->serverToClient, k->clientToServer, 32); },
     nullptr, NtsAnswer::kUnauthentic, 0},
    {"HeaderChangedAfterSealing", nullptr, [](Bytes* p) { (*p)[40] ^= 0x01; },
     NtsAnswer::kUnauthentic, 0},
    {"CiphertextChanged", nullptr, [](Bytes* p) { p->back() ^= 0x80; }, NtsAnswer::kUnauthentic, 0},
    {"FieldAfterTheAuthenticator",
     [](ServerAnswer* a, nts::NtsKeys*) { a->trailing = Field(0x0204, Bytes(16, 1)); }, nullptr,
     NtsAnswer::kUnauthentic, 0},
    {"ShorterThanAHeader", nullptr, [](Bytes* p) { p->resize(47); }, NtsAnswer::kMalformed, 0},
    {"CutShort", nullptr, [](Bytes* p) { p->pop_back(); }, NtsAnswer::kMalformed, 0},
    {"FieldLengthPastTheEnd",
     [](ServerAnswer* a, nts::NtsKeys*) {
         a->authenticator = false;
         a->trailing = Field(0x0204, Bytes(16, 1), 24);
     },
     nullptr, NtsAnswer::kMalformed, 0},
    {"FieldLengthNotAWordMultiple",
     [](ServerAnswer* a, nts::NtsKeys*) { a->outer = Field(0x0104, Bytes(32, 0xC1), 35); }, nullptr,
     NtsAnswer::kMalformed, 0},
    {"FieldLengthBelowItsHeader",
     [](ServerAnswer* a, nts::NtsKeys*) { Append(&a->outer, Field(0x7777, Bytes(), 0)); }, nullptr,
     NtsAnswer::kMalformed, 0},
    {"TooManyFields",
     [](ServerAnswer* a, nts::NtsKeys*) {
         for (int i = 0; i < 64; ++i) {
             Append(&a->outer, Field(0x7777, Bytes(4, 0)));
         }
     },
     nullptr, NtsAnswer::kMalformed, 0},
    {"AuthenticatorNonceLengthPastItsBody", nullptr, [](Bytes* p) { (*p)[48 + 36 + 5] = 0xF0; },
     NtsAnswer::kMalformed, 0},
    {"AuthenticatorCiphertextShorterThanATag", nullptr,
     [](Bytes* p) {
         (*p)[48 + 36 + 6] = 0;
         (*p)[48 + 36 + 7] = 15;
     },
     NtsAnswer::kMalformed, 0},
    {"AuthenticatorWithoutNonce", nullptr, [](Bytes* p) { (*p)[48 + 36 + 5] = 0; },
     NtsAnswer::kMalformed, 0},
    {"AuthenticButInnerFieldsDoNotParse",
     [](ServerAnswer* a, nts::NtsKeys*) {
         Append(&a->inner, Bytes{0x02, 0x04, 0x00});
     },
     nullptr, NtsAnswer::kMalformed, 0},
};

// Each answer is built by a server-side encoder, changed before or after sealing, and judged.
TEST_F(NtsFields, AnswersAreJudgedByTheirIdentifierAuthenticatorAndShape) {
    for (const AnswerCase& c : kAnswerCases) {
        SCOPED_TRACE(c.name);
        ServerAnswer answer = Answer(cookies_);
        nts::NtsKeys sealing = keys_;
        if (c.change) {
            c.change(&answer, &sealing);
        }
        Bytes packet = answer.Encode(sealing.serverToClient);
        if (c.damage) {
            c.damage(&packet);
        }
        EXPECT_EQ(Check(packet, nullptr), c.expected);
        Cookies cookies = {Bytes{9}};  // whatever the caller had is never kept
        EXPECT_EQ(Check(packet, &cookies), c.expected);
        ASSERT_EQ(cookies.size(), c.cookiesKept);
        for (std::size_t i = 0; i < cookies.size(); ++i) {
            EXPECT_EQ(cookies[i], cookies_.at(i % cookies_.size())) << i;
        }
    }
}

}  // namespace
