// A listening TCP socket on 127.0.0.1 for the tests: a port that takes connections (and
// keeps them) without ever answering, unless the test speaks on them itself.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/dual_stack.h"
#include "platform/win_types.h"

#ifdef _WIN32
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// The listening socket, with the given backlog, and the connections it accepted.
class TcpListener {
public:
    explicit TcpListener(int backlog) {
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
    ~TcpListener() {
        for (const SOCKET s : m_accepted) {
            Close(s);
        }
        Close(m_socket);
    }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

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
