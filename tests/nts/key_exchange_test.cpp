// RunKeyExchanges as the check calls it: every exchange ends by the deadline whatever its
// server does, at each step of the stream socket under it (a connection nobody accepts, one
// taken but never answered in TLS, one refused), they all run at once, and the outcomes keep
// the targets' order. The protocol itself is tested end to end (key_exchange.sh).
#include "nts/key_exchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "nts/system_trust.h"
#include "platform/platform.h"
#include "platform/stream_socket.h"

#ifdef _WIN32
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration span) {
    return std::chrono::duration<double>(span).count();
}

// A TCP port on 127.0.0.1 whose connections the system takes (up to the backlog) and nobody
// ever answers.
class MuteListener {
public:
    explicit MuteListener(int backlog) : m_socket(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
            ::listen(m_socket, backlog) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~MuteListener() { Close(); }
    MuteListener(const MuteListener&) = delete;
    MuteListener& operator=(const MuteListener&) = delete;

    int Port() const { return m_port; }
    // From now on the port refuses connections.
    void Close() {
        if (m_socket == INVALID_SOCKET) {
            return;
        }
#ifdef _WIN32
        ::closesocket(m_socket);
#else
        ::close(static_cast<int>(m_socket));
#endif
        m_socket = INVALID_SOCKET;
    }

private:
    SOCKET m_socket;
    int m_port = 0;
};

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
    MuteListener mute(4);
    MuteListener refusing(4);
    // A full accept queue leaves further connection requests unanswered: fill it, and keep
    // the connections that filled it.
    MuteListener full(0);
    refusing.Close();  // (after the other ports are taken: none of them gets its number)
    platform::SocketAddress fullAddress;
    ASSERT_TRUE(platform::ResolveDatagramAddress("127.0.0.1", full.Port(),
                                                 platform::AddressFamily::kIPv4, &fullAddress));
    std::vector<std::unique_ptr<platform::StreamSocket>> queued;
    for (bool filled = false; !filled && queued.size() < 8;) {
        queued.push_back(std::make_unique<platform::StreamSocket>());
        filled = !queued.back()->Connect(fullAddress, 300);
    }
    ASSERT_FALSE(queued.back()->IsOpen()) << "the accept queue never filled";
    EXPECT_EQ(platform::LastError(), 10060U);  // WSAETIMEDOUT

    // Names to look up here: the check passes addresses, other callers need not.
    const std::vector<nts::KeTarget> targets = {{"127.0.0.1", mute.Port(), {}},
                                                {"127.0.0.1", refusing.Port(), {}},
                                                {"[127.0.0.1]", full.Port(), {}},
                                                {"127.0.0.1", mute.Port(), {}}};
    const Clock::time_point start = Clock::now();
    const std::vector<nts::KeOutcome> outcomes =
        nts::RunKeyExchanges(targets, {}, start + std::chrono::milliseconds(800));
    const double took = Seconds(Clock::now() - start);

    ASSERT_EQ(outcomes.size(), targets.size());
    const std::string timedOut = "key exchange not finished within the time-out";
    EXPECT_EQ(outcomes[0].error, timedOut + " (TLS handshake)");
    EXPECT_EQ(outcomes[1].error.rfind("cannot connect to 127.0.0.1 port", 0), 0U)
        << outcomes[1].error;
    EXPECT_EQ(outcomes[2].error, timedOut + " (connecting)");
    EXPECT_EQ(outcomes[3].error, timedOut + " (TLS handshake)");
    EXPECT_LT(Seconds(outcomes[1].elapsed), 0.5);
    for (const int waited : {0, 2, 3}) {
        EXPECT_GE(Seconds(outcomes[waited].elapsed), 0.7) << waited;
    }
    // One time-out for all: the silent servers were waited for together.
    EXPECT_GE(took, 0.78);
    EXPECT_LE(took, 1.4);
    // A failed exchange leaves nothing to be used.
    for (const nts::KeOutcome& outcome : outcomes) {
        EXPECT_FALSE(outcome.ok);
        EXPECT_TRUE(outcome.response.cookies.empty());
        EXPECT_EQ(outcome.keys.clientToServer[0] | outcome.keys.serverToClient[31], 0);
    }
}

TEST(KeyExchange, DeadlinePassedEndsEveryExchangeAtOnce) {
    if (!SystemRootsPresent()) {
        GTEST_SKIP() << "no system CA certificates here";
    }
    MuteListener mute(4);
    const Clock::time_point start = Clock::now();
    const std::vector<nts::KeOutcome> outcomes =
        nts::RunKeyExchanges({{"127.0.0.1", mute.Port(), {}}}, {}, start);
    ASSERT_EQ(outcomes.size(), 1U);
    EXPECT_EQ(outcomes[0].error, "key exchange not finished within the time-out (connecting)");
    EXPECT_LT(Seconds(Clock::now() - start), 0.5);
    EXPECT_TRUE(nts::RunKeyExchanges({}, {}, start).empty());
}

}  // namespace
