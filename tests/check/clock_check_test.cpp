// The check of several servers: which servers survive the selection, what a request
// carries, which datagrams count as answers, and the options that drive it.
#include "check/clock_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "../unit/loopback_server.h"
#include "../unit/recording_clock_api.h"
#include "../unit/sntp_answer.h"
#include "check/clock_selection.h"
#include "cli/check_options.h"
#include "cli/check_output.h"

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

TEST(ClockSelection, OnlyAStrictMajorityIsValid) {
    struct Row {
        const char* name;
        std::vector<Candidate> candidates;
        std::size_t survivors;
        bool valid;
    };
    const Row rows[] = {
        // Neither pair may pass for the truth.
        {"two against two", {{0.0, 0.1}, {0.05, 0.1}, {5.0, 0.1}, {5.05, 0.1}}, 0, false},
        // Two colluding servers of four must not set the clock.
        {"two of four, the others apart",
         {{0.0, 0.1}, {0.05, 0.1}, {5.0, 0.1}, {-5.0, 0.1}},
         2,
         false},
        {"three of four", {{0.0, 0.1}, {0.05, 0.1}, {0.1, 0.1}, {-5.0, 0.1}}, 3, true},
        {"two of three", {{0.0, 0.1}, {0.05, 0.1}, {5.0, 0.1}}, 2, true},
        {"one against one", {{0.0, 0.1}, {5.0, 0.1}}, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto s = check::SelectSurvivors(row.candidates);
        EXPECT_EQ(s.survivors, row.survivors);
        EXPECT_EQ(s.valid, row.valid);
    }
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

using Servers = std::vector<std::unique_ptr<LoopbackServer>>;

// Servers on loopback ports, asked through the whole check.
class ClockCheckTest : public ::testing::Test {
protected:
    check::CheckResult Check(const LoopbackServer& server) {
        m_settings.port = server.Port();
        return check::RunClockCheck({"127.0.0.1"}, m_settings);
    }
    check::CheckResult Check(const Servers& servers) {
        std::vector<std::string> names;
        for (std::size_t i = 1; i <= servers.size(); ++i) {
            names.push_back("127.0.0." + std::to_string(i));
        }
        m_settings.port = servers[0]->Port();
        return check::RunClockCheck(names, m_settings);
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

TEST_F(ClockCheckTest, EachRequestIsAnsweredOnlyOnce) {
    // Each answer comes twice, then comes another answer to the same request that looks
    // better (it claims a longer hold, so a shorter delay) and tells another time. Once a
    // request is answered nothing more counts for it, and nobody waits for more.
    LoopbackServer server([](const Datagram& request) {
        const Datagram answer = MakeShiftedAnswer(request, 2.5);
        AnswerFields forged;
        forged.receive = NtpTimestamp::Now().AddSeconds(100.0);
        forged.transmit = forged.receive.AddSeconds(0.050);
        return std::vector<Datagram>{answer, answer, MakeAnswer(request, forged)};
    });
    m_settings.samples = 2;
    m_settings.intervalSeconds = 0.05;
    m_settings.timeoutSeconds = 4.0;
    const auto start = std::chrono::steady_clock::now();
    const auto result = Check(server);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(result.servers[0].status, ServerStatus::kOk);
    EXPECT_NEAR(result.offset, 2.5, 0.01) << "a second answer to one request was taken";
    EXPECT_LT(took, 2.0) << "an answered request was kept open until its time-out";
}

TEST_F(ClockCheckTest, ErrorBoundIsHalfTheDelayHalfTheRootDelayAndTheDispersion) {
    struct Row {
        const char* name;
        double hold;  // T3 - T2 as the server claims it: the delay is the round trip less it
        double rootDelay;
        double rootDispersion;
        double delay;  // what the check must measure, give or take the loopback round trip
        double bound;
    };
    const Row rows[] = {
        {"a round trip of 0.2 s", -0.2, 0.0, 0.0, 0.2, 0.1},
        {"a root delay of 0.25 s", 0.0, 0.25, 0.0, 0.0, 0.125},
        {"a root dispersion of 0.125 s", 0.0, 0.0, 0.125, 0.0, 0.125},
        {"all three", -0.2, 0.25, 0.125, 0.2, 0.35},
        // The server claims a hold longer than our wait: that adds no error, nor takes any.
        {"a delay below zero", 0.2, 0.25, 0.125, -0.2, 0.25},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LoopbackServer server([&row](const Datagram& request) {
            AnswerFields fields;
            fields.rootDelay = row.rootDelay;
            fields.rootDispersion = row.rootDispersion;
            fields.receive = NtpTimestamp::Now();
            fields.transmit = fields.receive.AddSeconds(row.hold);
            return std::vector<Datagram>{MakeAnswer(request, fields)};
        });
        const auto result = Check(server);
        ASSERT_EQ(result.servers[0].status, ServerStatus::kOk);
        const check::ServerReport& report = result.servers[0];
        EXPECT_NEAR(report.best.delay, row.delay, 0.03);
        EXPECT_NEAR(report.errorBound, row.bound, 0.02);
        EXPECT_EQ(result.errorBound, report.errorBound) << "one server: the bound is its own";
    }
}

#ifndef _WIN32
// Wine will not bind one port on two loopback addresses (WSAEADDRINUSE), so several
// servers in this process are asked natively only.

// Servers on 127.0.0.1, 127.0.0.2, ... on one port, as the check asks every server on the
// same port: server i answers with responders[i].
Servers ServersOnOnePort(const std::vector<Responder>& responders) {
    Servers servers;
    for (const Responder& responder : responders) {
        const std::string address = "127.0.0." + std::to_string(servers.size() + 1);
        servers.push_back(std::make_unique<LoopbackServer>(
            responder, address.c_str(), servers.empty() ? 0 : servers[0]->Port()));
    }
    return servers;
}

// A server whose clock runs offsetSeconds ahead and whose answers carry these root fields.
Responder ServerAhead(double offsetSeconds, double rootDelay = 0.0, double rootDispersion = 0.0) {
    return [=](const Datagram& request) {
        AnswerFields fields;
        fields.rootDelay = rootDelay;
        fields.rootDispersion = rootDispersion;
        fields.receive = NtpTimestamp::Now().AddSeconds(offsetSeconds);
        fields.transmit = fields.receive;
        return std::vector<Datagram>{MakeAnswer(request, fields)};
    };
}

TEST_F(ClockCheckTest, ServersAgreeWithinTheirBoundsAndTheTolerance) {
    // 0 and 0.15 s apart meet once each bound is widened by more than 0.07 s (the second
    // server's bound is 0.01 s of its own); the third is 30 s off with a wide bound.
    struct Row {
        double tolerance;
        std::vector<ServerStatus> statuses;
        int agree;
        bool valid;
    };
    const ServerStatus ok = ServerStatus::kOk;
    const ServerStatus falseticker = ServerStatus::kFalseticker;
    const Row rows[] = {
        {0.1, {ok, ok, falseticker}, 2, true},
        {0.05, {falseticker, falseticker, falseticker}, 0, false},
    };
    const Servers servers = ServersOnOnePort(
        {ServerAhead(0.0), ServerAhead(0.15, 0.0, 0.01), ServerAhead(30.0, 0.0, 1.0)});
    m_settings.timeoutSeconds = 2.0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.tolerance);
        m_settings.toleranceSeconds = row.tolerance;
        const auto result = Check(servers);
        ASSERT_EQ(result.servers.size(), 3u);
        std::vector<ServerStatus> statuses;
        for (const check::ServerReport& report : result.servers) {
            statuses.push_back(report.status);
        }
        EXPECT_EQ(statuses, row.statuses);
        EXPECT_EQ(result.answered, 3);
        EXPECT_EQ(result.agree, row.agree);
        EXPECT_EQ(result.valid, row.valid);
        if (row.valid) {
            // The largest bound of the survivors, without the tolerance; the falseticker's
            // second of dispersion is not the check's.
            EXPECT_EQ(result.errorBound,
                      std::max(result.servers[0].errorBound, result.servers[1].errorBound));
            EXPECT_NEAR(result.errorBound, 0.01, 0.01);
            EXPECT_NEAR(result.offset, 0.075, 0.005);
        }
    }
}
#endif

// --set from a check's result: only from a valid one, and only within --max-step.
TEST(SetClockFromCheck, OnlyAValidResultWithinTheStepSetsTheClock) {
    struct Row {
        const char* name;
        int answered;
        bool valid;
        double offset;
        double maxStep;  // 0: no --max-step
        DWORD setError;
        check::SetKind kind;
    };
    using check::SetKind;
    const Row rows[] = {
        {"nothing answered", 0, false, 0.0, 0.0, 0, SetKind::kRefused},
        {"two of four agree", 4, false, 3.0, 0.0, 0, SetKind::kRefused},
        {"a majority agrees", 3, true, 30.0, 0.0, 0, SetKind::kDone},
        {"exactly the largest step back", 3, true, -0.5, 0.5, 0, SetKind::kDone},
        {"beyond the step forward", 3, true, 2.0, 1.0, 0, SetKind::kRefused},
        {"beyond the step back", 3, true, -2.0, 1.0, 0, SetKind::kRefused},
        {"the system refuses", 3, true, 1.0, 0.0, ERROR_PRIVILEGE_NOT_HELD, SetKind::kFailed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingClockApi api;
        api.setTimeError = row.setError;
        TimeClient client(api);
        check::CheckResult result;
        result.answered = row.answered;
        result.agree = row.valid ? row.answered : row.answered / 2;
        result.valid = row.valid;
        result.offset = row.offset;
        const check::SetOutcome outcome =
            check::SetClockFromCheck(result, row.maxStep > 0, row.maxStep, &client);
        EXPECT_EQ(outcome.kind, row.kind);
        EXPECT_EQ(outcome.reason.empty(), row.kind == SetKind::kDone);
        std::vector<SYSTEMTIME> settings;
        for (const RecordedCall& call : api.calls) {
            if (call.name == "set") {
                settings.push_back(call.time);
            }
        }
        ASSERT_EQ(settings.size(), row.kind == SetKind::kRefused ? 0u : 1u);
        if (!settings.empty()) {
            EXPECT_NEAR(NtpTimestamp::FromSystemTime(settings[0]).Difference(NtpTimestamp::Now()),
                        row.offset, 0.5);
        }
    }
}

TEST(CheckOutput, JsonEscapesAnyNameIntoValidJson) {
    struct Row {
        std::string name;
        const char* json;
    };
    const Row rows[] = {
        {"ntp.example.org", R"("ntp.example.org")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"C:\\ntp", R"("C:\\ntp")"},
        {"tab\tand\x1f", R"("tab\u0009and\u001f")"},
        {" ~", R"(" ~")"},                  // the first and last printable bytes stay
        {"\x7f\xe9", R"("\u007f\u00e9")"},  // DEL, and Latin-1 e acute
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.json);
        check::CheckResult result;
        check::ServerReport server;
        server.name = row.name;
        server.status = ServerStatus::kUnresolved;
        result.servers.push_back(server);
        const std::string document = CheckJsonReport(result, check::SetOutcome());
        EXPECT_NE(document.find(std::string("{\"name\": ") + row.json + ", \"address\": null"),
                  std::string::npos)
            << document;
    }
}

TEST(CheckOutput, PluginStateByTheOffsetAndTheSetting) {
    struct Row {
        const char* name;
        bool valid;
        double offset;
        check::SetKind set;
        int exitStatus;
        const char* statusLine;  // how it begins
    };
    using check::SetKind;
    // --warn 0.5 --crit 1: a state holds above its threshold, not at it.
    const Row rows[] = {
        {"well within", true, 0.25, SetKind::kNotRequested, 0, "NTP OK: "},
        {"exactly W", true, 0.5, SetKind::kNotRequested, 0, "NTP OK: "},
        {"above W", true, 0.75, SetKind::kNotRequested, 1, "NTP WARNING: "},
        {"exactly C", true, 1.0, SetKind::kNotRequested, 1, "NTP WARNING: "},
        {"above C", true, 1.5, SetKind::kNotRequested, 2, "NTP CRITICAL: "},
        {"ahead, above W", true, -0.75, SetKind::kNotRequested, 1, "NTP WARNING: "},
        {"ahead, above C", true, -1.5, SetKind::kNotRequested, 2, "NTP CRITICAL: "},
        {"set", true, 0.25, SetKind::kDone, 0, "NTP OK: "},
        {"setting refused", true, 0.25, SetKind::kRefused, 2, "NTP CRITICAL: "},
        {"setting failed", true, 0.25, SetKind::kFailed, 2, "NTP CRITICAL: "},
        {"no majority", false, 0.25, SetKind::kNotRequested, 3, "NTP UNKNOWN: "},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        check::CheckResult result;
        result.answered = 3;
        result.agree = row.valid ? 3 : 1;
        result.valid = row.valid;
        result.offset = row.offset;
        check::SetOutcome set;
        set.kind = row.set;
        EXPECT_EQ(static_cast<int>(CheckPluginState(result, set, 0.5, 1.0)), row.exitStatus);
        EXPECT_EQ(CheckPluginReport(result, set, 0.5, 1.0).rfind(row.statusLine, 0), 0u);
    }
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
          "15", "16"},
         true},
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
