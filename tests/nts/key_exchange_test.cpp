// RunKeyExchanges as the check calls it: every exchange ends by the deadline whatever its
// server does (here one that takes the connection and never speaks TLS), they run at once,
// and the outcomes keep the targets' order. The protocol itself is tested end to end
// (key_exchange.sh).
#include "nts/key_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "nts/system_trust.h"
#include "tests/nts/tcp_listener.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The exchanges below use the system's trust, which must be there before they connect.
bool SystemRootsPresent() {
    mbedtls_x509_crt roots;
    mbedtls_x509_crt_init(&roots);
    const bool present = nts::LoadSystemRoots(&roots) != nts::SystemRoots::kMissing;
    mbedtls_x509_crt_free(&roots);
    return present;
}

TEST(KeyExchange, EachEndsByTheDeadlineAllAtOnceInTheTargetsOrder) {
    if (!SystemRootsPresent()) {
        GTEST_SKIP() << "no system CA certificates here";
    }
    TcpListener mute1(4);
    TcpListener mute2(4);
    TcpListener closed(4);
    const int closedPort = closed.Port();
    closed.StopListening();
    const std::vector<nts::KeTarget> targets = {
        {"127.0.0.1", mute1.Port()}, {"127.0.0.1", closedPort}, {"[127.0.0.1]", mute2.Port()}};

    const Clock::time_point start = Clock::now();
    const std::vector<nts::KeOutcome> outcomes =
        nts::RunKeyExchanges(targets, {}, start + std::chrono::milliseconds(800));
    const double took = Seconds(Clock::now() - start);

    ASSERT_EQ(outcomes.size(), 3U);
    for (const int mute : {0, 2}) {
        EXPECT_FALSE(outcomes[mute].ok);
        EXPECT_EQ(outcomes[mute].error,
                  "key exchange not finished within the time-out (TLS handshake)");
        EXPECT_GE(Seconds(outcomes[mute].elapsed), 0.7);
    }
    EXPECT_FALSE(outcomes[1].ok);
    EXPECT_TRUE(Contains(outcomes[1].error, "cannot connect to 127.0.0.1 port"))
        << outcomes[1].error;
    EXPECT_LT(Seconds(outcomes[1].elapsed), 0.5);
    // One time-out for all: the two silent servers were waited for together.
    EXPECT_GE(took, 0.78);
    EXPECT_LE(took, 1.4);
    // A failed exchange leaves no keys behind.
    for (const nts::KeOutcome& outcome : outcomes) {
        EXPECT_TRUE(outcome.response.cookies.empty());
        EXPECT_EQ(outcome.keys.clientToServer[0] | outcome.keys.serverToClient[31], 0);
    }
}

TEST(KeyExchange, DeadlinePassedEndsEveryExchangeAtOnce) {
    if (!SystemRootsPresent()) {
        GTEST_SKIP() << "no system CA certificates here";
    }
    TcpListener mute(4);
    const Clock::time_point start = Clock::now();
    const std::vector<nts::KeOutcome> outcomes =
        nts::RunKeyExchanges({{"127.0.0.1", mute.Port()}}, {}, start);
    ASSERT_EQ(outcomes.size(), 1U);
    EXPECT_TRUE(Contains(outcomes[0].error, "not finished within the time-out"))
        << outcomes[0].error;
    EXPECT_LT(Seconds(Clock::now() - start), 0.5);
    EXPECT_TRUE(nts::RunKeyExchanges({}, {}, start).empty());
}

}  // namespace
