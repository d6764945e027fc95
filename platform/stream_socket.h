// A TCP connection whose every step is bounded in time, for the NTS key exchange: the socket
// never blocks, and the caller waits for it with the time it has left. Failures leave their
// reason in the last-error code as Winsock numbers it (10060 time-out, 10061 refused ...).
#pragma once

#include "platform/dual_stack.h"
#include "platform/win_types.h"

namespace platform {

enum class StreamWait { kReadable, kWritable };

class StreamSocket {
public:
    // Last-error code of a send or receive that would have had to wait.
    static constexpr DWORD kWouldBlock = 10035;  // WSAEWOULDBLOCK

    StreamSocket() = default;
    ~StreamSocket() { Close(); }
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // A socket of the address's family, connected to it within timeoutMs; FALSE with the
    // reason as last error (10060 when the time ran out).
    BOOL Connect(const SocketAddress& address, DWORD timeoutMs);
    // What the system takes at once: the count sent, or SOCKET_ERROR (kWouldBlock when it
    // took nothing).
    int Send(const void* data, int size);
    // What has arrived: the count read, 0 once the peer has closed, or SOCKET_ERROR
    // (kWouldBlock when nothing is waiting).
    int Receive(void* buffer, int size);
    // Waits until a send or receive can go on (or would report an error): 1, 0 when
    // timeoutMs passed first, SOCKET_ERROR when the wait itself failed.
    int Wait(StreamWait what, DWORD timeoutMs);
    void Close();

    bool IsOpen() const { return m_socket != INVALID_SOCKET; }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

}  // namespace platform
