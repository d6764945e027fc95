// Owner of one datagram socket (IPv4, or IPv6 through CreateConnected). Every operation reports
// plain success or failure and leaves the reason in the last-error code as the platform set it.
#pragma once

#include "platform/dual_stack.h"
#include "platform/win_types.h"

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    BOOL Create();
    // A datagram socket of peer's family (IPv4 or IPv6), connected to peer.
    BOOL CreateConnected(const platform::SocketAddress& peer);
    // host: dotted IPv4 address or host name; port in host byte order (low 16 bits used).
    BOOL Connect(const char* host, int port);
    BOOL ConnectAddress(const sockaddr* address, int length);
    BOOL Send(const void* data, int length);
    // The platform's recv result unchanged: bytes read, 0, or SOCKET_ERROR.
    int Receive(void* buffer, int size);
    // FALSE only when the wait itself fails; a time-out is TRUE with readable FALSE.
    BOOL WaitReadable(BOOL* readable, DWORD timeoutMs);
    void Close();

    // For a wait over several sockets; the object still owns it.
    SOCKET Handle() const { return m_socket; }

private:
    SOCKET m_socket = INVALID_SOCKET;
};
