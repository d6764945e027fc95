// Whole exchanges against an in-process server on an ephemeral loopback port.
#include <gtest/gtest.h>

#include <chrono>

#include "loopback_server.h"
#include "net/time_client.h"
#include "sntp_answer.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<Datagram> Silence(const Datagram&) {
    return {};
}

// The offset an exchange measures is off by at most half its round trip (the path's
// asymmetry), plus the millisecond steps of the local clock readings.
void ExpectOffset(const SntpResult& result, double expected) {
    EXPECT_NEAR(result.m_dClockOffset, expected, result.m_dRoundTripDelay / 2 + 0.002);
}

// A record whose members all hold recognisable values, to see what an exchange touched.
SntpResult MarkedRecord() {
    SntpResult r;
    r.m_nLeapIndicator = 2;
    r.m_nStratum = 77;
    r.m_tsOriginate = NtpTimestamp::FromParts(1, 1);
    r.m_tsReceive = NtpTimestamp::FromParts(2, 2);
    r.m_tsTransmit = NtpTimestamp::FromParts(3, 3);
    r.m_tsDestination = NtpTimestamp::FromParts(4, 4);
    r.m_dRoundTripDelay = 5.5;
    r.m_dClockOffset = 6.5;
    return r;
}

void ExpectUntouchedExceptDestination(const SntpResult& r) {
    EXPECT_EQ(r.m_nLeapIndicator, 2);
    EXPECT_EQ(r.m_nStratum, 77);
    EXPECT_EQ(r.m_tsOriginate, NtpTimestamp::FromParts(1, 1));
    EXPECT_EQ(r.m_tsReceive, NtpTimestamp::FromParts(2, 2));
    EXPECT_EQ(r.m_tsTransmit, NtpTimestamp::FromParts(3, 3));
    EXPECT_EQ(r.m_dRoundTripDelay, 5.5);
    EXPECT_EQ(r.m_dClockOffset, 6.5);
}

TEST(SntpResultRecord, StartsEmpty) {
    const SntpResult r;
    EXPECT_TRUE(r.m_tsOriginate.IsZero());
    EXPECT_TRUE(r.m_tsReceive.IsZero());
    EXPECT_TRUE(r.m_tsTransmit.IsZero());
    EXPECT_TRUE(r.m_tsDestination.IsZero());
    EXPECT_EQ(r.m_dClockOffset, 0.0);
    EXPECT_EQ(r.m_dRoundTripDelay, 0.0);
    EXPECT_EQ(r.m_nLeapIndicator, 0);
    EXPECT_EQ(r.m_nStratum, 0);
    EXPECT_EQ(TimeClient().Timeout(), 5000u);
}

TEST(SntpQuery, GoodAnswerGivesOffsetAndDelay) {
    // The server holds the request 10 ms between T2 and T3 and runs 12.5 s ahead.
    LoopbackServer server([](const Datagram& request) {
        AnswerFields fields;
        fields.receive = NtpTimestamp::Now().AddSeconds(12.5);
        fields.transmit = fields.receive.AddSeconds(0.010);
        fields.stratum = 3;
        return std::vector<Datagram>{MakeAnswer(request, fields)};
    });
    TimeClient client;
    SntpResult result;
    platform::SetLastError(4242);
    ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port()));
    EXPECT_EQ(platform::LastError(), 4242u) << "success leaves the last-error code alone";
    EXPECT_EQ(result.m_nStratum, 3);
    EXPECT_EQ(result.m_nLeapIndicator, 0);
    EXPECT_NEAR(result.m_dClockOffset, 12.5 + 0.005,
                (result.m_dRoundTripDelay + 0.010) / 2 + 0.002);
    // The server claims a 10 ms hold it never spent, so the delay comes out 10 ms short.
    EXPECT_GE(result.m_dRoundTripDelay + 0.010, -0.003);
    EXPECT_LT(result.m_dRoundTripDelay + 0.010, 0.1);
    // T1 is our own transmit time, echoed; T4 follows it.
    EXPECT_GE(result.m_tsDestination.Difference(result.m_tsOriginate), 0.0);
    EXPECT_LT(NtpTimestamp::Now().Difference(result.m_tsDestination), 1.0);
    // The offset recomputed from the stored timestamps is the stored offset.
    const double offset = (result.m_tsReceive.Difference(result.m_tsOriginate) +
                           result.m_tsTransmit.Difference(result.m_tsDestination)) *
                          0.5;
    EXPECT_DOUBLE_EQ(result.m_dClockOffset, offset);
}

// A server that never answers this request: 10060 once the five seconds from the send have
// passed, the record untouched (no T4 either), and no socket left open.
void ExpectNoAnswerFrom(Responder responder) {
    LoopbackServer server(std::move(responder));
    platform::SetLastError(0);
    const int handlesBefore = OpenHandleCount();
    TimeClient client;
    SntpResult result = MarkedRecord();
    const auto start = Clock::now();
    EXPECT_FALSE(client.SntpQuery("127.0.0.1", &result, server.Port()));
    const double waited = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(platform::LastError(), 10060u);
    EXPECT_GE(waited, 4.5);
    EXPECT_LE(waited, 6.5);
    ExpectUntouchedExceptDestination(result);
    EXPECT_EQ(result.m_tsDestination, NtpTimestamp::FromParts(4, 4));
    EXPECT_EQ(server.RequestCount(), 1);
    if (handlesBefore > 0) {
        EXPECT_EQ(OpenHandleCount(), handlesBefore) << "the socket was left open";
    }
}

TEST(SntpQuery, SilenceTimesOutAfterFiveSecondsWith10060) {
    ExpectNoAnswerFrom(Silence);
}

TEST(SntpQuery, UnresolvableNameSendsNothing) {
    SKIP_UNLESS_DNS_ISOLATED();
    LoopbackServer server(Silence);
    TimeClient client;
    SntpResult result = MarkedRecord();
    EXPECT_FALSE(client.SntpQuery("no-such-host.invalid", &result, server.Port()));
    const DWORD reason = platform::LastError();
    EXPECT_TRUE(reason == WSAHOST_NOT_FOUND || reason == WSATRY_AGAIN || reason == WSANO_DATA)
        << reason;
    ExpectUntouchedExceptDestination(result);
    EXPECT_EQ(result.m_tsDestination, NtpTimestamp::FromParts(4, 4));
    EXPECT_EQ(server.RequestCount(), 0);
}

struct RejectedKind {
    const char* name;
    void (*spoil)(Datagram* answer);
};

const RejectedKind kRejectedKinds[] = {
    {"short", [](Datagram* a) { a->resize(40); }},
    {"client mode", [](Datagram* a) { (*a)[0] = 0x1B; }},
    {"symmetric mode", [](Datagram* a) { (*a)[0] = 0x19; }},
    {"only up to the receive field", [](Datagram* a) { a->resize(32); }},
    {"zero transmit", [](Datagram* a) { PutTimestamp(a, 40, NtpTimestamp()); }},
    {"unsynchronised", [](Datagram* a) { (*a)[0] = static_cast<std::uint8_t>((*a)[0] | 0xC0); }},
    {"stratum 0", [](Datagram* a) { (*a)[1] = 0; }},
    {"stratum 16", [](Datagram* a) { (*a)[1] = 16; }},
};

TEST(SntpQuery, RejectedAnswersFailWithInvalidDataAndKeepTheRecord) {
    for (const RejectedKind& kind : kRejectedKinds) {
        SCOPED_TRACE(kind.name);
        LoopbackServer server([&kind](const Datagram& request) {
            Datagram answer = MakeShiftedAnswer(request, 3600.0);
            kind.spoil(&answer);
            return std::vector<Datagram>{answer};
        });
        TimeClient client;
        SntpResult result = MarkedRecord();
        EXPECT_FALSE(client.SntpQuery("127.0.0.1", &result, server.Port()));
        EXPECT_EQ(platform::LastError(), ERROR_INVALID_DATA);
        ExpectUntouchedExceptDestination(result);
        // T4 was taken when the answer arrived.
        EXPECT_LT(NtpTimestamp::Now().Difference(result.m_tsDestination), 1.0);
    }
}

TEST(SntpQuery, LongerAnswersAreReadFromTheFirst48Bytes) {
    // Beyond 68 bytes Winsock reports the cut as an error where POSIX does not: both read
    // such an answer alike.
    for (const std::size_t size : {60, 68, 69, 200, 500}) {
        LoopbackServer server([size](const Datagram& request) {
            Datagram answer = MakeShiftedAnswer(request, -2.0);
            answer.resize(size, 0xEE);
            return std::vector<Datagram>{answer};
        });
        TimeClient client;
        SntpResult result;
        ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port())) << size;
        ExpectOffset(result, -2.0);
    }
}

// Datagrams from the server's address that do not echo this request: none is an answer.
std::vector<Datagram> StrayDatagrams(const Datagram& request) {
    Datagram wrongOrigin = MakeShiftedAnswer(request, 900.0);
    wrongOrigin[30] ^= 0x10;
    Datagram tooShortForTheEcho = MakeShiftedAnswer(request, 900.0);
    tooShortForTheEcho.resize(31);
    std::vector<Datagram> strays{{}, wrongOrigin, tooShortForTheEcho, Datagram(48, 0)};
    for (int i = 0; i < 20; ++i) {
        strays.push_back(Datagram(48 + i, static_cast<std::uint8_t>(0x24 + i)));
    }
    return strays;
}

TEST(SntpQuery, StrayDatagramsDoNotEndTheExchange) {
    LoopbackServer server([](const Datagram& request) {
        std::vector<Datagram> datagrams = StrayDatagrams(request);
        datagrams.push_back(MakeShiftedAnswer(request, 7.25));
        return datagrams;
    });
    TimeClient client;
    SntpResult result;
    ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port()));
    ExpectOffset(result, 7.25);
}

TEST(SntpQuery, StrayDatagramsAloneAreSilence) {
    ExpectNoAnswerFrom(StrayDatagrams);
}

TEST(SntpQuery, OnlyTheFirstOfTwoAnswersIsRead) {
    LoopbackServer server([](const Datagram& request) {
        return std::vector<Datagram>{MakeShiftedAnswer(request, 1.0),
                                     MakeShiftedAnswer(request, 500.0)};
    });
    TimeClient client;
    SntpResult result;
    ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port()));
    ExpectOffset(result, 1.0);
}

TEST(SntpQuery, ManyExchangesInARowLeaveNoSocketBehind) {
    LoopbackServer server([](const Datagram& request) {
        return std::vector<Datagram>{MakeShiftedAnswer(request, 0.25)};
    });
    TimeClient client;
    SntpResult result;
    ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port()));  // warm up
    const int handlesBefore = OpenHandleCount();
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(client.SntpQuery("127.0.0.1", &result, server.Port())) << i;
        ExpectOffset(result, 0.25);
    }
    EXPECT_EQ(server.RequestCount(), 201);
    if (handlesBefore > 0) {
        EXPECT_EQ(OpenHandleCount(), handlesBefore);
    }
}

}  // namespace
