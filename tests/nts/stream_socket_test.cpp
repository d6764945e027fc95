// The stream socket under the key exchange: data both ways and the peer's close, and every
// wait ending at its time-out: a silent peer, a connection nobody accepts, a refused one.
#include "platform/stream_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/nts/tcp_listener.h"

#ifndef _WIN32
#include <sys/socket.h>
#endif

namespace {

using platform::StreamSocket;
using platform::StreamWait;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(StreamSocket, CarriesDataBothWaysAndSeesThePeerClose) {
    TcpListener listener(4);
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
    TcpListener listener(4);
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
    TcpListener listener(4);
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
    TcpListener listener(0);
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
