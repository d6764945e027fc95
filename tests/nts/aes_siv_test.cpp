#include "nts/aes_siv.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/nts/hex.h"

namespace {

using nts::ByteSpan;
using nts::SpanOf;
using nts_test::FromHex;
using Bytes = std::vector<std::uint8_t>;

struct Vector {
    const char* name;
    const char* key;
    std::vector<const char*> associated;
    const char* plain;
    const char* sealed;
};

// RFC 5297 A.1 and A.2, and from Wycheproof's AES-SIV-CMAC set: an empty plaintext (as in
// an NTS request), a plaintext of exactly one block (the first to take xorend), and a
// synthetic IV of all ones (the counter must not carry into its cleared bits).
const Vector kVectors[] = {
    {"Rfc5297Deterministic",
     "fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0 f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     {"101112131415161718191a1b1c1d1e1f2021222324252627"},
     "112233445566778899aabbccddee",
     "85632d07c6e8f37f950acd320a2ecc93 40c02b9690c4dc04daef7f6afe5c"},
    {"Rfc5297NonceBased",
     "7f7e7d7c7b7a79787776757473727170 404142434445464748494a4b4c4d4e4f",
     {"00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100",
      "102030405060708090a0", "09f911029d74e35bd84156c5635688c0"},
     "7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349562d"
     "414553",
     "7bdb6e3b432667eb06f4d14bff2fbd0f cb900f2fddbe404326601965c889bf17"
     "dba77ceb094fa663b7a3f748ba8af829 ea64ad544a272e9c485b62a3fd5c0d"},
    {"EmptyPlaintext",
     "e40992eb4f649e5d49134652aecc24bafa6b45ce8dd9e9d371ede7d5de84fa72",
     {"8268c5194a71aed0fc1dafe3"},
     "",
     "92bc07ee200fbd488b7f70a10da26a21"},
    {"OneBlockPlaintext",
     "612e837843ceae7f61d49625faa7e7494f9253e20cb3adcea686512b043936cd",
     {"865d39ae9b5e9ff8d6308e00208745bc"},
     "cc37fae15f745a2f40e2c8b192f2b38d",
     "c79c86cd7509e60a16ca8cec6bcaa1c5 8fbd6099718991fe775bf5a659d30a24"},
    {"AllOnesIv",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     {"000102030405060708090a0b0c0d0e0f"},
     "fd1fef36075ad8d4add16d36036ed5d4",
     "ffffffffffffffffffffffffffffffff ede59e1eb1a079ddc7d53cbdd7a7f21a"},
};

TEST(AesSiv, SealsPublishedVectorsToTheirBytesAndOpensThemBack) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        const Bytes key = FromHex(v.key);
        ASSERT_EQ(key.size(), nts::kAesSivKeySize);
        std::vector<Bytes> components;
        components.reserve(v.associated.size());
        for (const char* component : v.associated) {
            components.push_back(FromHex(component));
        }
        std::vector<ByteSpan> associated;
        associated.reserve(components.size());
        for (const Bytes& component : components) {
            associated.push_back(SpanOf(component));
        }
        const Bytes plain = FromHex(v.plain);

        Bytes sealed;
        ASSERT_TRUE(nts::AesSivSeal(key.data(), associated, plain.data(), plain.size(), &sealed));
        EXPECT_EQ(sealed, FromHex(v.sealed));

        Bytes opened = {0xEE};
        ASSERT_TRUE(nts::AesSivOpen(key.data(), associated, sealed.data(), sealed.size(), &opened));
        EXPECT_EQ(opened, plain);
    }
}

// A sealed NTS-like message: two associated components (packet, nonce) and some plaintext.
class AesSivTampering : public testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < key_.size(); ++i) {
            key_[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        ASSERT_TRUE(nts::AesSivSeal(key_.data(), Associated(packet_, nonce_), plain_.data(),
                                    plain_.size(), &sealed_));
    }

    static std::vector<ByteSpan> Associated(const Bytes& packet, const Bytes& nonce) {
        return {SpanOf(packet), SpanOf(nonce)};
    }

    bool Opens(const Bytes& key, const std::vector<ByteSpan>& associated, const Bytes& sealed) {
        Bytes opened = {0xEE};
        const bool ok =
            nts::AesSivOpen(key.data(), associated, sealed.data(), sealed.size(), &opened);
        EXPECT_EQ(ok, opened == plain_) << "a refusal must leave nothing behind";
        EXPECT_TRUE(ok || opened.empty());
        return ok;
    }

    Bytes key_ = Bytes(32);
    Bytes packet_ = FromHex("23000000 00000000 00000000 00000000 0104 0024 1122334455667788");
    Bytes nonce_ = FromHex("000102030405060708090a0b0c0d0e0f");
    Bytes plain_ = FromHex("0204 0014 c0ffee00 c0ffee01 c0ffee02 c0ffee03");
    Bytes sealed_;
};

TEST_F(AesSivTampering, EveryFlippedBitOfTagOrCiphertextIsRefused) {
    ASSERT_TRUE(Opens(key_, Associated(packet_, nonce_), sealed_));
    for (std::size_t bit = 0; bit < sealed_.size() * 8; ++bit) {
        Bytes changed = sealed_;
        changed[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        EXPECT_FALSE(Opens(key_, Associated(packet_, nonce_), changed)) << "bit " << bit;
    }
    EXPECT_FALSE(
        Opens(key_, Associated(packet_, nonce_), Bytes(sealed_.begin(), sealed_.end() - 1)));
    EXPECT_FALSE(
        Opens(key_, Associated(packet_, nonce_), Bytes(sealed_.begin(), sealed_.begin() + 15)));
}

TEST_F(AesSivTampering, OtherAssociatedDataOrKeyIsRefused) {
    Bytes packet = packet_;
    packet.back() ^= 0x01;
    EXPECT_FALSE(Opens(key_, Associated(packet, nonce_), sealed_));
    Bytes nonce = nonce_;
    nonce[0] ^= 0x80;
    EXPECT_FALSE(Opens(key_, Associated(packet_, nonce), sealed_));
    // The components count one by one: swapped, joined or one missing is another message.
    EXPECT_FALSE(Opens(key_, Associated(nonce_, packet_), sealed_));
    Bytes joined = packet_;
    joined.insert(joined.end(), nonce_.begin(), nonce_.end());
    EXPECT_FALSE(Opens(key_, {SpanOf(joined)}, sealed_));
    EXPECT_FALSE(Opens(key_, {SpanOf(packet_)}, sealed_));
    EXPECT_FALSE(Opens(key_, {SpanOf(packet_), SpanOf(nonce_), ByteSpan{}}, sealed_));
    // Either half of the key: K1 authenticates, K2 encrypts.
    for (const std::size_t at : {std::size_t{0}, std::size_t{31}}) {
        Bytes key = key_;
        key[at] ^= 0x01;
        EXPECT_FALSE(Opens(key, Associated(packet_, nonce_), sealed_)) << "key byte " << at;
    }
}

TEST(AesSiv, RefusesArgumentsOutOfRange) {
    const Bytes key(32, 0x42);
    const Bytes plain = {1, 2, 3};
    Bytes sealed;
    const std::vector<ByteSpan> most(nts::kAesSivMaxAssociated, ByteSpan{plain.data(), 1});
    ASSERT_TRUE(nts::AesSivSeal(key.data(), most, plain.data(), plain.size(), &sealed));
    Bytes opened;
    EXPECT_TRUE(nts::AesSivOpen(key.data(), most, sealed.data(), sealed.size(), &opened));
    EXPECT_EQ(opened, plain);

    std::vector<ByteSpan> tooMany = most;
    tooMany.push_back(ByteSpan{});
    EXPECT_FALSE(nts::AesSivSeal(key.data(), tooMany, plain.data(), plain.size(), &sealed));
    EXPECT_FALSE(nts::AesSivOpen(key.data(), tooMany, sealed.data(), sealed.size(), &opened));
    EXPECT_FALSE(
        nts::AesSivSeal(key.data(), {ByteSpan{nullptr, 4}}, plain.data(), plain.size(), &sealed));
    EXPECT_FALSE(nts::AesSivSeal(key.data(), {}, nullptr, 3, &sealed));
    EXPECT_FALSE(nts::AesSivOpen(key.data(), {}, sealed.data(), 15, &opened));
}

}  // namespace
