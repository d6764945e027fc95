// The check of several servers: which servers survive the selection, what a request
// carries, which datagrams count as answers, and the options that drive it.
#include "check/clock_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>

#include "../unit/loopback_server.h"
#include "../unit/sntp_answer.h"
#include "check/clock_selection.h"
#include "cli/check_options.h"

namespace {

using check::Candidate;
using check::ServerStatus;

std::vector<bool> Survivors(const std::vector<Candidate>& candidates) {
    return check::SelectSurvivors(candidates).survivor;
}

TEST(ClockSelection, AFalsetickerAmongThreeIsOutvoted) {
    const auto s = check::SelectSurvivors({{0.010, 0.1}, {0.020, 0.1}, {30.0, 0.1}});
    EXPECT_EQ(s.survivor, (std::vector<bool>{true, true, false}));
    EXPECT_TRUE(s.valid);
    EXPECT_DOUBLE_EQ(s.offset, 0.015);  // the median of an even count: the middle two
}

TEST(ClockSelection, TwoAgainstTwoIsNoMajority) {
    const auto s = check::SelectSurvivors({{0.0, 0.1}, {0.05, 0.1}, {5.0, 0.1}, {5.05, 0.1}});
    EXPECT_FALSE(s.valid);
    EXPECT_EQ(s.survivors, 0u) << "neither pair may pass for the truth";
}

TEST(ClockSelection, AllAgreeAndTheMedianIsTaken) {
    const auto s = check::SelectSurvivors({{0.3, 0.1}, {0.1, 0.1}, {0.2, 0.1}});
    EXPECT_EQ(s.survivors, 3u);
    EXPECT_TRUE(s.valid);
    EXPECT_DOUBLE_EQ(s.offset, 0.2);
}

TEST(ClockSelection, OneServerIsItsOwnMajority) {
    const auto s = check::SelectSurvivors({{-1.5, 0.01}});
    EXPECT_TRUE(s.valid);
    EXPECT_DOUBLE_EQ(s.offset, -1.5);
    EXPECT_FALSE(check::SelectSurvivors({}).valid);
}

TEST(ClockSelection, IntervalsThatOnlyTouchStillMeet) {
    EXPECT_EQ(Survivors({{0.0, 1.0}, {2.0, 1.0}}), (std::vector<bool>{true, true}));
}

TEST(ClockSelection, AmbiguousGroupsKeepOnlyWhatTheyShare) {
    // A meets B and C, which do not meet: two groups of two, in different places.
    const auto s = check::SelectSurvivors({{5.0, 5.0}, {0.5, 0.5}, {9.5, 0.5}});
    EXPECT_EQ(s.survivor, (std::vector<bool>{true, false, false}));
    EXPECT_FALSE(s.valid);
}

// One server on an ephemeral loopback port, asked through the whole check.
class ClockCheckTest : public ::testing::Test {
protected:
    check::CheckResult Check(const LoopbackServer& server) {
        m_settings.port = server.Port();
        return check::RunClockCheck({"127.0.0.1"}, m_settings);
    }

    check::CheckSettings m_settings;
    std::mutex m_lock;
    std::vector<Datagram> m_requests;  // as the server saw them
};

TEST_F(ClockCheckTest, RequestsCarryOnlyTheFirstByteAndARandomNonce) {
    LoopbackServer server([this](const Datagram& request) {
        const std::lock_guard<std::mutex> lock(m_lock);
        m_requests.push_back(request);
        return std::vector<Datagram>{MakeShiftedAnswer(request, 2.5)};
    });
    m_settings.samples = 3;
    m_settings.intervalSeconds = 0.01;
    const auto result = Check(server);
    ASSERT_EQ(m_requests.size(), 3u);
    for (const Datagram& request : m_requests) {
        ASSERT_EQ(request.size(), 48u);
        EXPECT_EQ(request[0], 0x1B);
        EXPECT_EQ(std::count(request.begin() + 1, request.begin() + 40, 0), 39);
        NtpWireTimestamp wire;
        std::memcpy(wire.bytes, request.data() + 40, 8);
        // Not the local clock: a random value lies within 10 s of now once in 4e8 times.
        EXPECT_GT(std::abs(NtpTimestamp::FromNetwork(wire).Difference(NtpTimestamp::Now())), 10.0);
    }
    EXPECT_NE(m_requests[0], m_requests[1]);
    EXPECT_NE(m_requests[1], m_requests[2]);
    ASSERT_EQ(result.servers[0].status, ServerStatus::kOk);
    EXPECT_TRUE(result.valid);
    // Precise stamps: the error is the loopback path's, far below a millisecond.
    EXPECT_NEAR(result.offset, 2.5, 0.0005 + result.servers[0].best.delay / 2);
}

TEST_F(ClockCheckTest, OnlyAnEchoOfTheNonceIsAnAnswer) {
    LoopbackServer server([](const Datagram& request) {
        Datagram wrongEcho = MakeShiftedAnswer(request, 100.0);
        wrongEcho[31] ^= 1;
        Datagram late = MakeShiftedAnswer(request, 200.0);
        std::memset(late.data() + 24, 0x5A, 8);
        return std::vector<Datagram>{wrongEcho, late, Datagram(48, 0), {}};
    });
    m_settings.timeoutSeconds = 0.3;
    auto result = Check(server);
    EXPECT_EQ(result.servers[0].status, ServerStatus::kNoAnswer);
    EXPECT_FALSE(result.valid);
    EXPECT_EQ(result.answered, 0);
}

TEST_F(ClockCheckTest, KissOfDeathIsReportedAndEndsTheQuestioning) {
    LoopbackServer server([](const Datagram& request) {
        Datagram kiss = MakeShiftedAnswer(request, 0.0);
        kiss[1] = 0;
        std::memcpy(kiss.data() + 12, "RATE", 4);
        return std::vector<Datagram>{kiss};
    });
    m_settings.samples = 4;
    m_settings.intervalSeconds = 0.01;
    const auto result = Check(server);
    EXPECT_EQ(result.servers[0].status, ServerStatus::kKissOfDeath);
    EXPECT_EQ(result.servers[0].kissCode, "RATE");
    EXPECT_EQ(server.RequestCount(), 1) << "asked again after being told to go away";
    EXPECT_FALSE(result.valid);
}

TEST_F(ClockCheckTest, TheSampleWithTheSmallestDelayIsKept) {
    // The second answer claims the server held the request 40 ms less than it did, which
    // shows as a 40 ms longer delay and a 20 ms offset error.
    int answered = 0;
    LoopbackServer server([&answered](const Datagram& request) {
        AnswerFields fields;
        fields.receive = NtpTimestamp::Now().AddSeconds(-3.0);
        fields.transmit = fields.receive;
        if (++answered == 2) {
            fields.receive = fields.receive.AddSeconds(0.040);
        }
        return std::vector<Datagram>{MakeAnswer(request, fields)};
    });
    m_settings.samples = 3;
    m_settings.intervalSeconds = 0.01;
    const auto result = Check(server);
    ASSERT_TRUE(result.valid);
    EXPECT_LT(result.servers[0].best.delay, 0.020);
    EXPECT_NEAR(result.offset, -3.0, 0.003);
}

TEST(CheckOptions, GoodAndBadCommandLines) {
    struct Case {
        std::vector<const char*> args;
        bool parses;
    };
    const Case cases[] = {
        {{"--check", "a"}, true},
        {{"--check", "-6", "--samples", "8", "--interval", "0.01", "a", "::1"}, true},
        {{"--check", "--warn", "0.5", "--crit", "1", "a"}, true},
        {{"--check", "--set", "--max-step", "0.5", "a"}, true},
        {{"--check"}, false},
        {{"--check", "--samples", "9", "a"}, false},
        {{"--check", "--samples", "0", "a"}, false},
        {{"--check", "--interval", "0.001", "a"}, false},
        {{"--check", "--timeout", "nan", "a"}, false},
        {{"--check", "--port", "65536", "a"}, false},
        {{"--check", "--warn", "1", "a"}, false},
        {{"--check", "--warn", "2", "--crit", "1", "a"}, false},
        {{"--check", "--json", "--warn", "1", "--crit", "2", "a"}, false},
        {{"--check", "--max-step", "1", "a"}, false},
        {{"--check", "--bogus", "a"}, false},
        {{"--check", "--samples"}, false},
        {{"--check", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14",
          "15", "16", "17"},
         false},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"quillon-query"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        CheckOptions options;
        std::string error;
        const int argc = static_cast<int>(argv.size());
        EXPECT_TRUE(IsCheckCommand(argc, argv.data()));
        EXPECT_EQ(ParseCheckOptions(argc, argv.data(), &options, &error), c.parses)
            << argv.size() << " arguments, " << argv.back() << ": " << error;
    }
}

}  // namespace
