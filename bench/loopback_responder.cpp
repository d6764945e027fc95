#include "bench/loopback_responder.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "time/ntp_timestamp.h"

LoopbackResponder::LoopbackResponder() {
    m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(m_socket);
        m_socket = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

LoopbackResponder::~LoopbackResponder() {
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_socket >= 0) {
        ::close(m_socket);
    }
}

void LoopbackResponder::Serve() {
    while (!m_stop) {
        // Short polls, so that the destructor never waits long for the thread.
        pollfd readable{m_socket, POLLIN, 0};
        if (::poll(&readable, 1, 50) <= 0) {
            continue;
        }
        std::uint8_t packet[68];
        sockaddr_in client{};
        socklen_t length = sizeof client;
        const ssize_t count = ::recvfrom(m_socket, packet, sizeof packet, 0,
                                         reinterpret_cast<sockaddr*>(&client), &length);
        if (count < 48) {
            continue;
        }
        const NtpWireTimestamp received = NtpTimestamp::Now().ToNetwork();
        // The client's transmit time comes back as the originate time.
        std::memcpy(packet + 24, packet + 40, 8);
        std::memcpy(packet + 32, received.bytes, 8);
        packet[0] = 0x24;  // leap indicator 0, version 4, mode 4 (server)
        packet[1] = 2;     // stratum
        const NtpWireTimestamp transmit = NtpTimestamp::Now().ToNetwork();
        std::memcpy(packet + 40, transmit.bytes, 8);
        ::sendto(m_socket, packet, 48, 0, reinterpret_cast<sockaddr*>(&client), length);
    }
}
