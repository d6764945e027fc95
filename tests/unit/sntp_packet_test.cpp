// The request layout, the answer checks and the delay/offset reduction, without a network.
#include "net/sntp_packet.h"

#include <gtest/gtest.h>

#include <cstring>

#include "sntp_answer.h"

namespace {

using sntp::AnswerCheck;

const NtpTimestamp kSent = NtpTimestamp::FromParts(3900000000u, 123456789u);

std::vector<std::uint8_t> Request() {
    std::vector<std::uint8_t> request(48);
    sntp::BuildRequest(kSent, request.data());
    return request;
}

std::vector<std::uint8_t> GoodAnswer() {
    AnswerFields fields;
    fields.receive = kSent.AddSeconds(0.25);
    fields.transmit = kSent.AddSeconds(0.26);
    return MakeAnswer(Request(), fields);
}

AnswerCheck Check(const std::vector<std::uint8_t>& answer) {
    return sntp::CheckAnswer(answer.data(), static_cast<int>(answer.size()), kSent);
}

TEST(SntpRequest, IsVersion3ClientWithOnlyTheTransmitTime) {
    const std::vector<std::uint8_t> request = Request();
    EXPECT_EQ(request[0], 0x1B);
    for (int i = 1; i < 40; ++i) {
        EXPECT_EQ(request[i], 0) << "byte " << i;
    }
    NtpWireTimestamp wire;
    std::memcpy(wire.bytes, request.data() + 40, 8);
    EXPECT_EQ(NtpTimestamp::FromNetwork(wire), kSent);
}

TEST(SntpAnswerCheck, AcceptsAWellFormedServerAnswer) {
    EXPECT_EQ(Check(GoodAnswer()), AnswerCheck::kAccepted);
    std::vector<std::uint8_t> longer = GoodAnswer();
    longer.resize(68, 0xAA);  // key identifier and digest are not looked at
    EXPECT_EQ(Check(longer), AnswerCheck::kAccepted);
    std::vector<std::uint8_t> leap = GoodAnswer();
    leap[0] = static_cast<std::uint8_t>(leap[0] | 0x40);  // LI 1: a leap second is announced
    EXPECT_EQ(Check(leap), AnswerCheck::kAccepted);
    std::vector<std::uint8_t> stratum15 = GoodAnswer();
    stratum15[1] = 15;
    EXPECT_EQ(Check(stratum15), AnswerCheck::kAccepted);
}

TEST(SntpAnswerCheck, RejectsAnswersThatMustNotSetAClock) {
    std::vector<std::uint8_t> shortAnswer = GoodAnswer();
    shortAnswer.resize(47);
    EXPECT_EQ(Check(shortAnswer), AnswerCheck::kTooShort);

    std::vector<std::uint8_t> clientMode = GoodAnswer();
    clientMode[0] = 0x1B;
    EXPECT_EQ(Check(clientMode), AnswerCheck::kNotServerMode);
    std::vector<std::uint8_t> broadcast = GoodAnswer();
    broadcast[0] = 0x1D;
    EXPECT_EQ(Check(broadcast), AnswerCheck::kNotServerMode);

    std::vector<std::uint8_t> wrongOrigin = GoodAnswer();
    wrongOrigin[31] ^= 1;  // one fraction bit off
    EXPECT_EQ(Check(wrongOrigin), AnswerCheck::kBogusOrigin);

    std::vector<std::uint8_t> zeroTransmit = GoodAnswer();
    PutTimestamp(&zeroTransmit, 40, NtpTimestamp());
    EXPECT_EQ(Check(zeroTransmit), AnswerCheck::kZeroTransmit);

    std::vector<std::uint8_t> unsynchronised = GoodAnswer();
    unsynchronised[0] = static_cast<std::uint8_t>(unsynchronised[0] | 0xC0);
    EXPECT_EQ(Check(unsynchronised), AnswerCheck::kUnsynchronised);

    std::vector<std::uint8_t> kissOfDeath = GoodAnswer();
    kissOfDeath[1] = 0;
    EXPECT_EQ(Check(kissOfDeath), AnswerCheck::kBadStratum);
    std::vector<std::uint8_t> stratum16 = GoodAnswer();
    stratum16[1] = 16;
    EXPECT_EQ(Check(stratum16), AnswerCheck::kBadStratum);
}

// Whether a datagram answers the request at all, and whether it is a Kiss-o'-Death, are
// judged on the bytes that came in, whatever else the buffer holds.
TEST(SntpAnswerCheck, EchoAndKissOfDeathNeedTheirWholeFields) {
    struct Row {
        const char* name;
        int firstByte;
        int stratum;
        int length;
        bool echoes;
        bool kiss;
        const char* code = "RATE";  // the reference id's four bytes
    };
    const Row rows[] = {
        {"whole answer", 0x1C, 2, 48, true, false},
        {"up to the end of the echo", 0x1C, 2, 32, true, false},
        {"cut inside the echo", 0x1C, 2, 31, false, false},
        {"Kiss-o'-Death", 0x1C, 0, 48, true, true},
        {"Kiss-o'-Death with leap indicator 3", 0xDC, 0, 48, true, true},
        {"Kiss-o'-Death with a short code", 0x1C, 0, 48, true, true, "NO\0\0"},
        {"Kiss-o'-Death cut short", 0x1C, 0, 47, true, false},
        {"stratum 0 in client mode", 0x1B, 0, 48, true, false},
        // An unsynchronised server's stratum 0, or junk: rejected, never a code to obey.
        {"stratum 0 without a code", 0xDC, 0, 48, true, false, "\0\0\0\0"},
        {"stratum 0 with a control byte", 0x1C, 0, 48, true, false, "A\x1b[\0"},
        {"stratum 0 with a space", 0x1C, 0, 48, true, false, " RAT"},
        {"stratum 0 with DEL", 0x1C, 0, 48, true, false, "RAT\x7f"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::uint8_t> answer = GoodAnswer();
        answer[0] = static_cast<std::uint8_t>(row.firstByte);
        answer[1] = static_cast<std::uint8_t>(row.stratum);
        std::memcpy(answer.data() + 12, row.code, 4);
        EXPECT_EQ(sntp::EchoesRequest(answer.data(), row.length, kSent), row.echoes);
        EXPECT_EQ(sntp::IsKissOfDeath(answer.data(), row.length), row.kiss);
    }
}

SntpResult Reduce(double t1, double t2, double t3, double t4) {
    const NtpTimestamp base = NtpTimestamp::FromParts(3900000000u, 0);
    SntpResult result;
    result.m_tsOriginate = base.AddSeconds(t1);
    result.m_tsReceive = base.AddSeconds(t2);
    result.m_tsTransmit = base.AddSeconds(t3);
    result.m_tsDestination = base.AddSeconds(t4);
    sntp::ComputeDelayAndOffset(&result);
    return result;
}

TEST(SntpReduction, DelayAndOffsetFromFourTimestamps) {
    const SntpResult ahead = Reduce(100.000, 100.600, 100.601, 100.020);
    EXPECT_NEAR(ahead.m_dRoundTripDelay, 0.019, 1e-6);
    EXPECT_NEAR(ahead.m_dClockOffset, 0.5905, 1e-6);

    const SntpResult behind = Reduce(200.0, 150.0, 150.0, 200.2);
    EXPECT_NEAR(behind.m_dRoundTripDelay, 0.2, 1e-6);
    EXPECT_NEAR(behind.m_dClockOffset, -50.1, 1e-6);
}

TEST(SntpReduction, AcrossThe2036Rollover) {
    // Client just before the rollover, server clock 3 s ahead, just after it.
    SntpResult result;
    result.m_tsOriginate = NtpTimestamp::FromParts(4294967294u, 0);
    result.m_tsReceive = NtpTimestamp::FromParts(1, 0);
    result.m_tsTransmit = NtpTimestamp::FromParts(1, 0);
    result.m_tsDestination = NtpTimestamp::FromParts(4294967294u, 429496730u);  // +0.1 s
    sntp::ComputeDelayAndOffset(&result);
    EXPECT_NEAR(result.m_dRoundTripDelay, 0.1, 1e-6);
    EXPECT_NEAR(result.m_dClockOffset, 2.95, 1e-6);
}

TEST(SntpAnswerRead, TakesLeapStratumAndTimestamps) {
    std::vector<std::uint8_t> answer = GoodAnswer();
    answer[0] = static_cast<std::uint8_t>(0x40 | 0x18 | 4);
    answer[1] = 9;
    SntpResult result;
    sntp::ReadAnswer(answer.data(), &result);
    EXPECT_EQ(result.m_nLeapIndicator, 1);
    EXPECT_EQ(result.m_nStratum, 9);
    EXPECT_EQ(result.m_tsOriginate, kSent);
    EXPECT_EQ(result.m_tsReceive, kSent.AddSeconds(0.25));
    EXPECT_EQ(result.m_tsTransmit, kSent.AddSeconds(0.26));
}

}  // namespace
