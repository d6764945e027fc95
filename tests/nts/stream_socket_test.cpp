// The stream socket under the key exchange: data both ways and the peer's close, and every
// wait ending at its time-out: a silent peer, a connection nobody accepts, a refused one.
#include "platform/stream_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifdef _WIN32
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using platform::StreamSocket;
using platform::StreamWait;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A listening TCP socket on 127.0.0.1 with the given backlog, and the connections it took.
class Listener {
public:
    explicit Listener(int backlog) {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
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
    ~Listener() {
        for (const SOCKET s : m_accepted) {
            Close(s);
        }
        Close(m_socket);
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    int Port() const { return m_port; }
    platform::SocketAddress Address() const {
        platform::SocketAddress address;
        EXPECT_TRUE(platform::ResolveDatagramAddress("127.0.0.1", m_port,
                                                     platform::AddressFamily::kIPv4, &address));
        return address;
    }
    SOCKET Accept() {
        const SOCKET s = ::accept(m_socket, nullptr, nullptr);
        m_accepted.push_back(s);
        return s;
    }
    // Closes the listening socket: its port then refuses connections.
    void StopListening() {
        Close(m_socket);
        m_socket = INVALID_SOCKET;
    }

private:
    static void Close(SOCKET s) {
        if (s == INVALID_SOCKET) {
            return;
        }
#ifdef _WIN32
        ::closesocket(s);
#else
        ::close(static_cast<int>(s));
#endif
    }

    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
    std::vector<SOCKET> m_accepted;
};

TEST(StreamSocket, CarriesDataBothWaysAndSeesThePeerClose) {
    Listener listener(4);
    ASSERT_NE(listener.Port(), 0);
    StreamSocket client;
    ASSERT_TRUE(client.Connect(listener.Address(), 2000)) << platform::LastError();
    const SOCKET server = listener.Accept();
    ASSERT_NE(server, INVALID_SOCKET);

    ASSERT_EQ(client.Wait(StreamWait::kWritable, 2000), 1);
    ASSERT_EQ(client.Send("hello", 5), 5);
    char got[16] = {};
    ASSERT_EQ(::recv(server, got, sizeof got, 0), 5);
    EXPECT_EQ(std::string(got, 5), "hello");

    ASSERT_EQ(::send(server, "world!", 6, 0), 6);
    ASSERT_EQ(client.Wait(StreamWait::kReadable, 2000), 1);
    ASSERT_EQ(client.Receive(got, sizeof got), 6);
    EXPECT_EQ(std::string(got, 6), "world!");

#ifdef _WIN32
    ::shutdown(server, 1);  // SD_SEND
#else
    ::shutdown(static_cast<int>(server), SHUT_WR);
#endif
    ASSERT_EQ(client.Wait(StreamWait::kReadable, 2000), 1);
    EXPECT_EQ(client.Receive(got, sizeof got), 0);
}

TEST(StreamSocket, NothingToReadWouldBlockAndTheWaitEndsAtItsTimeOut) {
    Listener listener(4);
    StreamSocket client;
    ASSERT_TRUE(client.Connect(listener.Address(), 2000)) << platform::LastError();
    char buffer[16];
    EXPECT_EQ(client.Receive(buffer, sizeof buffer), SOCKET_ERROR);
    EXPECT_EQ(platform::LastError(), StreamSocket::kWouldBlock);

    const Clock::time_point start = Clock::now();
    EXPECT_EQ(client.Wait(StreamWait::kReadable, 400), 0);
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 0.38);
    EXPECT_LE(waited, 1.5);
}

TEST(StreamSocket, RefusedConnectionFailsAtOnce) {
    Listener listener(4);
    const platform::SocketAddress address = listener.Address();
    listener.StopListening();
    StreamSocket client;
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(client.Connect(address, 3000));
    EXPECT_EQ(platform::LastError(), 10061U);  // WSAECONNREFUSED
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_FALSE(client.IsOpen());
}

TEST(StreamSocket, ConnectionNobodyAcceptsEndsAtTheTimeOut) {
    // A full accept queue drops further connection requests unanswered. The first
    // connections fill it; each one is kept, so the queue stays full.
    Listener listener(0);
    std::vector<StreamSocket> waiting(8);
    for (StreamSocket& client : waiting) {
        const Clock::time_point start = Clock::now();
        if (client.Connect(listener.Address(), 500)) {
            continue;
        }
        const double waited = SecondsSince(start);
        EXPECT_EQ(platform::LastError(), 10060U);  // WSAETIMEDOUT
        EXPECT_GE(waited, 0.48);
        EXPECT_LE(waited, 1.5);
        return;
    }
    FAIL() << "every connection was taken: the queue never filled";
}

}  // namespace
