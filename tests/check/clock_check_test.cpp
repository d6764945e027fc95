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
#include <thread>

#include "../unit/loopback_server.h"
#include "../unit/recording_clock_api.h"
#include "../unit/sntp_answer.h"
#include "check/clock_selection.h"
#include "check/name_lookup.h"
#include "check/named_ntp_server.h"
#include "check/nts_session.h"
#include "check/server_probe.h"
#include "check/server_reasons.h"
#include "check/server_roster.h"
#include "cli/check_options.h"
#include "cli/check_output.h"
#include "cli/safe_text.h"
#include "net/sntp_packet.h"
#include "nts/extension_field.h"
#include "platform/error_words.h"
#include "platform/platform.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

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
        std::vector<check::NamedServer> names;
        for (std::size_t i = 1; i <= servers.size(); ++i) {
            names.emplace_back("127.0.0." + std::to_string(i));
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
    m_settings.intervalSeconds = 0.5;  // far longer than a loopback answer takes, even under Wine
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

TEST_F(ClockCheckTest, TheTimeLimitEndsTheRunAndTheRestDecide) {
    // Eight samples each; the silent server's requests would wait 5 s each.
    const Servers servers = ServersOnOnePort(
        {ServerAhead(4.0), [](const Datagram&) { return std::vector<Datagram>{}; }});
    m_settings.samples = 8;
    m_settings.intervalSeconds = 0.05;
    m_settings.minAgree = 1;
    const auto start = std::chrono::steady_clock::now();
    m_settings.runEnd = start + std::chrono::milliseconds(700);
    const auto result = Check(servers);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(took, 0.7);
    EXPECT_LT(took, 1.5) << "the run went on past its time limit";
    ASSERT_EQ(result.servers[0].status, ServerStatus::kOk);
    EXPECT_EQ(result.servers[1].status, ServerStatus::kNoAnswer);
    EXPECT_EQ(result.servers[1].reason, "the time limit ran out");
    EXPECT_TRUE(result.valid) << "judged from the server that answered";
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
        if (row.setError != 0) {
            EXPECT_EQ(outcome.reason.rfind("no right to set the clock: run as ", 0), 0u)
                << outcome.reason;
        }
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
        {"no majority", false, 0.25, SetKind::kNotRequested, 2, "NTP CRITICAL: no result: "},
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

TEST_F(ClockCheckTest, AServerFarFromItsReferenceIsRejectedWithTheReason) {
    // Root delay 1 s and dispersion 1.25 s: a root distance of 1.75 s.
    LoopbackServer server([](const Datagram& request) {
        Datagram answer = MakeShiftedAnswer(request, 50.0);
        const std::uint8_t rootFields[8] = {0, 1, 0, 0, 0, 1, 0x40, 0};
        std::memcpy(answer.data() + 4, rootFields, sizeof rootFields);
        return std::vector<Datagram>{answer};
    });
    auto result = Check(server);
    EXPECT_EQ(result.servers[0].status, ServerStatus::kRejected);
    EXPECT_EQ(result.servers[0].reason, "root distance 1.750000 s above the limit 1.500000 s");
    EXPECT_EQ(result.answered, 0);
    EXPECT_EQ(result.asked, 1);

    m_settings.maxDistanceSeconds = 1.75;  // the limit itself is still near enough
    result = Check(server);
    ASSERT_EQ(result.servers[0].status, ServerStatus::kOk);
    EXPECT_TRUE(result.servers[0].reason.empty());
    // The error bound keeps the whole root distance: half the delay and all the dispersion.
    EXPECT_NEAR(result.servers[0].errorBound, 1.75 + result.servers[0].best.delay / 2, 1e-9);
}

TEST_F(ClockCheckTest, ASampleOverTheDelayLimitIsNotUsed) {
    // A transmit time 4 s before the receive time: the round trip shows as 4 s longer.
    LoopbackServer server([](const Datagram& request) {
        AnswerFields fields;
        fields.receive = NtpTimestamp::Now();
        fields.transmit = fields.receive.AddSeconds(-4.0);
        return std::vector<Datagram>{MakeAnswer(request, fields)};
    });
    auto result = Check(server);
    EXPECT_EQ(result.servers[0].status, ServerStatus::kRejected);
    EXPECT_EQ(result.servers[0].reason.rfind("round-trip delay 4.0", 0), 0u)
        << result.servers[0].reason;
    EXPECT_EQ(result.servers[0].samples, 0);
    m_settings.maxDelaySeconds = 5.0;
    result = Check(server);
    EXPECT_EQ(result.servers[0].status, ServerStatus::kOk);
}

TEST_F(ClockCheckTest, ALoneAnswerAmongServersAskedIsNoResult) {
    // 127.0.0.2 has nobody on the port: it is asked, and stays silent.
    LoopbackServer server([](const Datagram& request) {
        return std::vector<Datagram>{MakeShiftedAnswer(request, 7.0)};
    });
    m_settings.port = server.Port();
    m_settings.timeoutSeconds = 0.3;
    auto result = check::RunClockCheck({"127.0.0.1", "127.0.0.2"}, m_settings);
    EXPECT_EQ(result.asked, 2);
    EXPECT_EQ(result.answered, 1);
    EXPECT_EQ(result.minAgree, 2) << "a strict majority of those asked";
    EXPECT_TRUE(result.majority);
    EXPECT_FALSE(result.valid) << "one server decided for two";

    m_settings.minAgree = 1;  // the user accepts one server
    result = check::RunClockCheck({"127.0.0.1", "127.0.0.2"}, m_settings);
    EXPECT_TRUE(result.valid);
    EXPECT_NEAR(result.offset, 7.0, 0.01);
}

#ifndef _WIN32
TEST(NameLookup, AResolverThatDoesNotAnswerCostsTheDeadlineOnly) {
    SKIP_UNLESS_DNS_ISOLATED();  // NOLINT(concurrency-mt-unsafe): before any thread starts
    // The isolated resolver is 127.0.0.1:53, waited for a second: make it listen and say
    // nothing, as a dead one does.
    const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(53);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(silent, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(silent);
        GTEST_SKIP() << "port 53 is taken or not ours to bind";
    }
    const auto started = std::chrono::steady_clock::now();
    const auto answers =
        check::LookUpNames({{"a.quillon.test", 1}, {"127.0.0.9", 1}}, 123,
                           platform::AddressFamily::kAny, started + std::chrono::milliseconds(200));
    const auto took = std::chrono::steady_clock::now() - started;
    ::close(silent);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_TRUE(answers[0].timedOut);
    EXPECT_EQ(answers[0].error, WSAETIMEDOUT);
    EXPECT_TRUE(answers[1].resolved) << "a literal needs no resolver";
    EXPECT_LT(took, std::chrono::milliseconds(800)) << "waited for the resolver's own time-out";
}
#endif

TEST(ServerProbe, APauseNeverTurnsIntoABurst) {
    LoopbackServer server([](const Datagram&) { return std::vector<Datagram>{}; });
    check::CheckSettings settings;
    settings.samples = 4;
    settings.intervalSeconds = 0.1;
    platform::SocketAddress address;
    ASSERT_TRUE(platform::ResolveDatagramAddress("127.0.0.1", server.Port(),
                                                 platform::AddressFamily::kIPv4, &address));
    check::ServerProbe probe("127.0.0.1", settings);
    probe.Open(address);
    probe.Tick(check::ServerProbe::Clock::now());
    // As if the process had been stopped for three intervals and a half.
    std::this_thread::sleep_for(std::chrono::milliseconds(350));
    probe.Tick(check::ServerProbe::Clock::now());
    const auto wait = probe.NextEvent() - check::ServerProbe::Clock::now();
    EXPECT_GT(wait, std::chrono::milliseconds(50)) << "the missed requests are due at once";
}

// A look-up's answer for the roster: the addresses given, or a failure.
check::NameAnswer Found(const std::vector<const char*>& addresses) {
    check::NameAnswer answer;
    answer.resolved = !addresses.empty();
    answer.error = answer.resolved ? 0 : WSAHOST_NOT_FOUND;
    for (const char* text : addresses) {
        platform::SocketAddress address;
        EXPECT_TRUE(
            platform::ResolveDatagramAddress(text, 123, platform::AddressFamily::kAny, &address));
        answer.addresses.push_back(address);
    }
    return answer;
}

TEST(ServerRoster, EachAddressIsAskedAndCountedOnce) {
    struct Case {
        const char* what;
        std::vector<check::NamedServer> named;
        std::vector<std::vector<const char*>> answers;  // per distinct look-up
        std::vector<const char*> statuses;              // "asked", or the entry's final status
        int asked;
    };
    const Case cases[] = {
        {"a name repeated is looked up and asked once",
         {"a", "b", "a"},
         {{"192.0.2.1"}, {"192.0.2.2"}},
         {"asked", "asked", "duplicate"},
         2},
        {"two names of one address",
         {"a", "b"},
         {{"192.0.2.1"}, {"192.0.2.1"}},
         {"asked", "duplicate"},
         1},
        {"a pool's addresses are servers of their own; one also named plainly",
         {{"pool", true}, "192.0.2.2"},
         {{"192.0.2.1", "192.0.2.2", "2001:db8::1"}, {"192.0.2.2"}},
         {"asked", "asked", "asked", "duplicate"},
         3},
        {"a pool and a server of the same name ask different things",
         {{"p", true}, "p"},
         {{"192.0.2.1", "192.0.2.2"}, {"192.0.2.1"}},
         {"asked", "asked", "duplicate"},
         2},
        {"unresolved names count as asked, once each",
         {"gone", "gone", "other", {"pool", true}},
         {{}, {}, {}},
         {"unresolved", "duplicate", "unresolved", "unresolved"},
         3},
    };
    for (const Case& c : cases) {
        std::vector<std::size_t> queryOf;
        const auto queries = check::LookUpsFor(c.named, &queryOf);
        ASSERT_EQ(queries.size(), c.answers.size()) << c.what;
        std::vector<check::NameAnswer> answers;
        for (const auto& addresses : c.answers) {
            answers.push_back(Found(addresses));
        }
        const check::Roster roster = check::PlanRoster(c.named, queryOf, answers);
        ASSERT_EQ(roster.entries.size(), c.statuses.size()) << c.what;
        for (std::size_t i = 0; i < c.statuses.size(); ++i) {
            const bool asked = roster.probeOf[i] >= 0;
            EXPECT_EQ(asked ? "asked" : check::StatusName(roster.entries[i].status),
                      std::string(c.statuses[i]))
                << c.what << ", entry " << i;
        }
        EXPECT_EQ(roster.asked, c.asked) << c.what;
        EXPECT_EQ(roster.targets.size(),
                  static_cast<std::size_t>(std::count_if(
                      roster.probeOf.begin(), roster.probeOf.end(), [](int p) { return p >= 0; })))
            << c.what;
    }
}

// The bodies of the fields of type in an NTS request, padding dropped for cookies of a
// length that is a multiple of 4.
std::vector<std::vector<std::uint8_t>> FieldBodies(const std::vector<std::uint8_t>& packet,
                                                   std::uint16_t type) {
    std::vector<std::vector<std::uint8_t>> bodies;
    std::size_t offset = sntp::kPacketSize;
    nts::ExtensionField field;
    while (nts::ReadExtensionField(packet.data(), packet.size(), &offset, &field)) {
        if (field.type == type) {
            bodies.emplace_back(field.body.data, field.body.data + field.body.size);
        }
    }
    return bodies;
}

TEST(NtsSession, EachCookieIsSentOnceAndMoreAreAskedForAsNeeded) {
    nts::NtsKeys keys{};
    const std::vector<std::uint8_t> first(64, 0x11), second(64, 0x22);
    check::NtsSession session(keys, {first, second});
    std::vector<std::uint8_t> packet;
    check::UniqueId id1{}, id2{}, id3{};
    const NtpTimestamp nonce = NtpTimestamp::FromParts(1, 2);

    // Three requests to come after this one, one cookie left after it: two more wanted.
    ASSERT_TRUE(session.BuildRequest(nonce, 3, &packet, &id1));
    EXPECT_EQ(FieldBodies(packet, nts::kCookieField),
              std::vector<std::vector<std::uint8_t>>{first});
    EXPECT_EQ(FieldBodies(packet, nts::kCookiePlaceholderField).size(), 2u);
    EXPECT_EQ(FieldBodies(packet, nts::kUniqueIdentifierField),
              (std::vector<std::vector<std::uint8_t>>{{id1.begin(), id1.end()}}));

    ASSERT_TRUE(session.BuildRequest(nonce, 0, &packet, &id2));
    EXPECT_EQ(FieldBodies(packet, nts::kCookieField),
              std::vector<std::vector<std::uint8_t>>{second});
    EXPECT_TRUE(FieldBodies(packet, nts::kCookiePlaceholderField).empty());
    EXPECT_NE(id1, id2) << "a fresh identifier for every request";

    EXPECT_FALSE(session.BuildRequest(nonce, 0, &packet, &id3)) << "a cookie sent twice";
    EXPECT_EQ(session.CookiesLeft(), 0u);
}

TEST(NamedNtpServer, OnlyAUnicastServerInTheRfcsFormsIsAsked) {
    struct Row {
        const char* named;
        const char* resolved;  // what the look-up gave; nullptr: its form is refused first
        const char* keyExchange;
        const char* refused;  // "" when it may be asked
    };
    const char* const kForm = "neither a dotted-decimal IPv4 address, an IPv6 address nor";
    const Row rows[] = {
        {"192.0.2.7", "192.0.2.7", "198.51.100.1", ""},
        {"ntp.example.net", "2001:db8::7", "198.51.100.1", ""},
        {"2001:db8::7", "2001:db8::7", "198.51.100.1", ""},
        {"0", nullptr, "198.51.100.1", kForm},
        {"2130706433", nullptr, "198.51.100.1", kForm},
        {"0x7f.1", nullptr, "198.51.100.1", kForm},
        {"127.1", nullptr, "198.51.100.1", kForm},
        {"1.0x7f", nullptr, "198.51.100.1", kForm},
        {"010.0.0.1", nullptr, "198.51.100.1", kForm},
        {"[::1]", nullptr, "198.51.100.1", kForm},
        {"0.0.0.0", "0.0.0.0", "198.51.100.1", "0.0.0.0, an unspecified address"},
        {"::", "::", "198.51.100.1", "::, an unspecified address"},
        {"224.0.1.1", "224.0.1.1", "198.51.100.1", "224.0.1.1, a multicast address"},
        {"ff02::101", "ff02::101", "198.51.100.1", "a multicast address"},
        {"255.255.255.255", "255.255.255.255", "198.51.100.1", "a broadcast address"},
        {"240.0.0.1", "240.0.0.1", "198.51.100.1", "a reserved address"},
        {"169.254.1.2", "169.254.1.2", "198.51.100.1", "a link-local address"},
        {"fe80::1", "fe80::1", "198.51.100.1", "a link-local address"},
        {"febf::1", "febf::1", "198.51.100.1", "a link-local address"},
        {"localhost", "127.0.0.1", "198.51.100.1", "localhost (127.0.0.1), a loopback address"},
        {"::ffff:127.0.0.1", "::ffff:127.0.0.1", "198.51.100.1", "a loopback address"},
        {"::1", "::1", "198.51.100.1", "a loopback address"},
        {"localhost", "127.0.0.1", "127.0.0.2", ""},
        {"::1", "::1", "127.0.0.2", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.named);
        std::string refused = check::NtpServerNameFault(row.named);
        if (row.resolved != nullptr) {
            EXPECT_EQ(refused, "");
            platform::SocketAddress resolved, keyExchange;
            ASSERT_TRUE(platform::ResolveAddressLiteral(row.resolved, 123,
                                                        platform::AddressFamily::kAny, &resolved));
            ASSERT_TRUE(platform::ResolveAddressLiteral(
                row.keyExchange, 4460, platform::AddressFamily::kAny, &keyExchange));
            refused = check::NtpServerAddressFault(row.named, resolved, keyExchange);
        }
        if (*row.refused == '\0') {
            EXPECT_EQ(refused, "");
        } else {
            EXPECT_NE(refused.find(row.refused), std::string::npos) << refused;
            EXPECT_EQ(refused.rfind("the key exchange named ", 0), 0u) << refused;
        }
    }
}

TEST(NtsSession, ANakEndsNothingByItself) {
    // Anyone who saw a request can forge its NAK: the next request still goes out.
    LoopbackServer server([](const Datagram& request) {
        Datagram nak = MakeShiftedAnswer(request, 0.0);
        nak[1] = 0;
        std::memcpy(nak.data() + 12, "NTSN", 4);
        const std::vector<std::uint8_t> id = FieldBodies(request, nts::kUniqueIdentifierField)[0];
        nak.insert(nak.end(), {0x01, 0x04, 0x00, 36});
        nak.insert(nak.end(), id.begin(), id.end());
        return std::vector<Datagram>{nak};
    });
    check::CheckSettings settings;
    settings.samples = 2;
    settings.intervalSeconds = 0.05;
    settings.timeoutSeconds = 0.3;
    platform::SocketAddress address;
    ASSERT_TRUE(platform::ResolveAddressLiteral("127.0.0.1", server.Port(),
                                                platform::AddressFamily::kIPv4, &address));
    check::ServerProbe probe("127.0.0.1", settings);
    probe.Open(address);
    probe.UseNts(
        std::make_unique<check::NtsSession>(nts::NtsKeys{}, std::vector<std::vector<std::uint8_t>>(
                                                                2, std::vector<std::uint8_t>(64))),
        nts::CertificateWindow{});
    for (probe.Tick(check::ServerProbe::Clock::now()); !probe.Finished();
         probe.Tick(check::ServerProbe::Clock::now())) {
        SOCKET socket = probe.Socket();
        bool readable = false;
        const DWORD wait = MillisecondsUntil(probe.NextEvent());
        if (platform::SocketsWaitReadable(&socket, 1, &readable, wait) > 0) {
            probe.Receive(NtpTimestamp::PreciseNow());
        }
    }
    EXPECT_EQ(server.RequestCount(), 2) << "a NAK ended the questioning";
    EXPECT_EQ(probe.Report().status, ServerStatus::kKissOfDeath);
    EXPECT_EQ(probe.Report().kissCode, "NTSN") << "no authentic answer came: the NAK tells";
}

TEST(CheckOutputText, ServerTextIsMadeSafeToPrint) {
    struct Case {
        std::string raw;
        std::string printable;
        std::string json;
    };
    const Case cases[] = {
        {"RATE", "RATE", "\"RATE\""},
        {"X|o=", "X?o=", "\"X|o=\""},
        {"A\x01\x1b[", "A??[", "\"A\\u0001\\u001b[\""},
        {"\x1f\x7f", "??", "\"\\u001f\\u007f\""},  // the last C0 control, and DEL
        {"caf\xc3\xa9", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"caf\xe9", "caf?", "\"caf\\u00e9\""},                 // Latin-1, not UTF-8
        {"\xc0\xaf", "??", "\"\\u00c0\\u00af\""},              // an overlong '/'
        {"\xed\xa0\x80", "???", "\"\\u00ed\\u00a0\\u0080\""},  // a surrogate
        {"\xc2\x85", "?", "\"\\u0085\""},                      // C1 control, as UTF-8
        {"q\"\\", "q\"\\", "\"q\\\"\\\\\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PrintableText(c.raw), c.printable) << c.raw;
        EXPECT_EQ(JsonString(c.raw), c.json) << c.raw;
    }
    EXPECT_EQ(PlainDecimal(0.00005), "0.00005");
    EXPECT_EQ(PlainDecimal(2000000), "2000000");
    EXPECT_EQ(PlainDecimal(0.1), "0.1");
    EXPECT_EQ(PlainDecimal(123456789.125), "123456789.125");
    EXPECT_EQ(PlainDecimal(1e-9), "0.000000001");
}

TEST(CheckOptions, TrustOptionsAreReadAsGiven) {
    const char* argv[] = {"quillon-query", "--check",   "--max-distance", "0.25", "a",
                          "--pool",        "p.example", "--min-agree",    "2",    "b"};
    CheckOptions options;
    std::string error;
    ASSERT_TRUE(ParseCheckOptions(10, argv, &options, &error)) << error;
    EXPECT_DOUBLE_EQ(options.settings.maxDistanceSeconds, 0.25);
    EXPECT_EQ(options.settings.minAgree, 2);
    ASSERT_EQ(options.servers.size(), 3u);
    EXPECT_EQ(options.servers[0].name, "a");
    EXPECT_FALSE(options.servers[0].pool);
    EXPECT_EQ(options.servers[1].name, "p.example");
    EXPECT_TRUE(options.servers[1].pool);
    EXPECT_EQ(options.servers[2].name, "b");

    const CheckOptions defaults;
    EXPECT_DOUBLE_EQ(defaults.settings.maxDistanceSeconds, 1.5);
    EXPECT_EQ(defaults.settings.minAgree, 0) << "0: a majority of those asked";
}

TEST(ErrorWords, TheCodesTheProgramReportsReadInWordsWithTheirNumber) {
    const std::pair<DWORD, std::string> rows[] = {
        {10060, "no answer in time (last-error code 10060)"},
#ifdef _WIN32
        {1314, "no right to set the clock: run as administrator (last-error code 1314)"},
        {1300, "no right to set the clock: run as administrator (last-error code 1300)"},
        {4242, "last-error code 4242"},
#else
        {1314,
         "no right to set the clock: run as root or with CAP_SYS_TIME (last-error code 1314)"},
        // An errno value the POSIX layer passed on as it was: the C library's words.
        {ENOENT, "No such file or directory (last-error code 2)"},
        {40000, "last-error code 40000"},
#endif
    };
    for (const auto& row : rows) {
        EXPECT_EQ(platform::ErrorReason(row.first), row.second);
    }
}

TEST(ServerReasons, EveryStatusButOkAndDuplicateSaysWhyInWords) {
    struct Row {
        ServerStatus status;
        DWORD error;
        const char* given;  // the probe's or the roster's reason, or the NTS error
        bool lookUpsCut;
        const char* reason;
    };
    const Row rows[] = {
        {ServerStatus::kOk, 0, "", false, ""},
        {ServerStatus::kDuplicate, 0, "", false, ""},
        {ServerStatus::kFalseticker, 0, "", false,
         "outside the range where the agreeing servers meet"},
        {ServerStatus::kNoAnswer, 0, "", false, "nothing came within the time-out of 0.5 s"},
        {ServerStatus::kNoAnswer, 10061, "", false,
         "refused: nothing serves that port (last-error code 10061)"},
        {ServerStatus::kNoAnswer, 0, "the time limit ran out", false, "the time limit ran out"},
        {ServerStatus::kUnresolved, 11001, "", false, "no such host name (last-error code 11001)"},
        {ServerStatus::kUnresolved, 10060, "the look-up timed out", false,
         "the look-up timed out (last-error code 10060)"},
        {ServerStatus::kUnresolved, 10060, "the look-up timed out", true,
         "the time limit ran out (last-error code 10060)"},
        {ServerStatus::kRejected, 0, "zero transmit time", false, "zero transmit time"},
        {ServerStatus::kKissOfDeath, 0, "", false, "the server asks to be asked less often"},
        {ServerStatus::kNtsFailed, 0, "no cookies", false, "no cookies"},
    };
    check::CheckSettings settings;
    settings.timeoutSeconds = 0.5;
    for (const Row& row : rows) {
        check::ServerReport server;
        server.status = row.status;
        server.error = row.error;
        server.kissCode = "RATE";
        (row.status == ServerStatus::kNtsFailed ? server.ntsError : server.reason) = row.given;
        std::vector<check::ServerReport> servers{server};
        check::ExplainServers(settings, row.lookUpsCut, &servers);
        EXPECT_EQ(servers[0].reason, row.reason) << check::StatusName(row.status);
    }
    EXPECT_EQ(check::KissWords("XYZ"), "the server sent a Kiss-o'-Death: it will not serve us");
}

TEST(CheckOptions, UsageErrorsNameTheOptionAndTheValueInOneLine) {
    const std::pair<std::vector<const char*>, std::string> cases[] = {
        {{"--samples", "9", "a"}, "--samples 9: give a count from 1 to 8"},
        {{"--timeout=nan", "a"}, "--timeout=nan: give from 0.01 to 60 seconds"},
        {{"-t", "0", "a"}, "-t 0: give from 0.01 to 86400 seconds"},
        {{"--samples"}, "--samples needs a value: a count from 1 to 8"},
        {{"--json=yes", "a"}, "--json takes no value (--json=yes)"},
        {{"-w", "2", "-c", "1", "a"},
         "--crit 1 is below --warn 2: give a critical threshold at least the warning one"},
        {{"--min-agree", "5", "--pool", "p"},
         "--min-agree 5: only 4 servers are named (a pool counts 4)"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"quillon-query", "--check"};
        argv.insert(argv.end(), c.first.begin(), c.first.end());
        CheckOptions options;
        std::string error;
        EXPECT_FALSE(
            ParseCheckOptions(static_cast<int>(argv.size()), argv.data(), &options, &error));
        EXPECT_EQ(error, c.second);
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
        {{"--check", "--pool", "p"}, true},
        {{"--check", "--pool", ""}, false},
        {{"--check", "--pool"}, false},
        {{"--check", "--min-agree", "0", "a"}, false},
        {{"--check", "--min-agree", "65", "a"}, false},
        {{"--check", "--max-distance", "0", "a"}, false},
        {{"--check", "--max-delay", "0", "a"}, false},
        {{"--check", "--nts", "--cert-time", "local", "--max-delay", "5", "a"}, true},
        {{"--check", "--nts", "--cert-time", "later", "a"}, false},
        {{"--check", "--cert-time", "agreed", "a"}, false},
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
        {{"--check", "--min-agree", "4", "--pool", "p"}, true},  // a pool counts 4
        {{"--check", "--min-agree", "2", "a", "b"}, true},
        {{"--check", "--time-limit", "0.5", "-t", "30", "a"}, true},
        {{"--check", "--time-limit", "0", "a"}, false},
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
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

}  // namespace
