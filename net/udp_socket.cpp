#include "net/udp_socket.h"

#include <cstring>

#include "platform/platform.h"

BOOL UdpSocket::Create() {
    m_socket = platform::SocketOpenUdp();
    return m_socket != INVALID_SOCKET;
}

BOOL UdpSocket::CreateConnected(const platform::SocketAddress& peer) {
    m_socket = platform::SocketOpenDatagram(peer);
    return m_socket != INVALID_SOCKET && ConnectAddress(peer.Get(), peer.length);
}

BOOL UdpSocket::Connect(const char* host, int port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));

    // A dotted address is used as it is; only other text goes to the resolver.
    address.sin_addr.s_addr =
        static_cast<decltype(address.sin_addr.s_addr)>(platform::ParseDottedAddress(host));
    if (address.sin_addr.s_addr == INADDR_NONE &&
        !platform::ResolveHostAddress(host, &address.sin_addr)) {
        return FALSE;
    }
    return ConnectAddress(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

BOOL UdpSocket::ConnectAddress(const sockaddr* address, int length) {
    return platform::SocketConnect(m_socket, address, length) == 0;
}

BOOL UdpSocket::Send(const void* data, int length) {
    return platform::SocketSend(m_socket, static_cast<const char*>(data), length) != SOCKET_ERROR;
}

int UdpSocket::Receive(void* buffer, int size) {
    return platform::SocketReceive(m_socket, static_cast<char*>(buffer), size);
}

BOOL UdpSocket::WaitReadable(BOOL* readable, DWORD timeoutMs) {
    timeval timeout{};
    timeout.tv_sec = static_cast<decltype(timeout.tv_sec)>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<decltype(timeout.tv_usec)>((timeoutMs % 1000) * 1000);
    const int count = platform::SocketSelectReadable(m_socket, &timeout);
    if (count == SOCKET_ERROR) {
        return FALSE;
    }
    *readable = count != 0;
    return TRUE;
}

void UdpSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        platform::SocketClose(m_socket);
        m_socket = INVALID_SOCKET;
    }
}
