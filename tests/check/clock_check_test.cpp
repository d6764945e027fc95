// The check of several servers: which servers survive the selection, what a request
// carries, which datagrams count as answers, and the options that drive it.
#include "check/clock_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "../unit/loopback_server.h"
#include "../unit/sntp_answer.h"
#include "check/clock_selection.h"
#include "check/nts_session.h"
#include "check/server_probe.h"
#include "check/server_roster.h"
#include "cli/check_options.h"
#include "cli/safe_text.h"
#include "net/sntp_packet.h"
#include "nts/extension_field.h"
#include "platform/platform.h"

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
        EXPECT_EQ(roster.addresses.size(),
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
