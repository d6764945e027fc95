#include "loopback_server.h"

#include <cstring>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <winsock.h>
using socklen_t = int;
#else
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
void CloseSocket(std::intptr_t s) {
    closesocket(static_cast<SOCKET>(s));
}
#else
void CloseSocket(std::intptr_t s) {
    close(static_cast<int>(s));
}
#endif

}  // namespace

LoopbackServer::LoopbackServer(Responder responder, const char* address, int port)
    : m_responder(std::move(responder)) {
    m_socket = static_cast<std::intptr_t>(socket(AF_INET, SOCK_DGRAM, 0));
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_addr.s_addr = inet_addr(address);
    bound.sin_port = htons(static_cast<std::uint16_t>(port));
    if (bind(static_cast<decltype(socket(0, 0, 0))>(m_socket), reinterpret_cast<sockaddr*>(&bound),
             sizeof bound) != 0) {
        CloseSocket(m_socket);
        throw std::runtime_error(std::string("cannot bind ") + address);
    }
    socklen_t length = sizeof bound;
    getsockname(static_cast<decltype(socket(0, 0, 0))>(m_socket),
                reinterpret_cast<sockaddr*>(&bound), &length);
    m_port = ntohs(bound.sin_port);
    m_thread = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
    m_stop = true;
    m_thread.join();
    CloseSocket(m_socket);
}

void LoopbackServer::Serve() {
    const auto s = static_cast<decltype(socket(0, 0, 0))>(m_socket);
    while (!m_stop) {
        fd_set readSet;
        FD_ZERO(&readSet);
        FD_SET(s, &readSet);
        timeval tick{0, 20000};
        if (select(static_cast<int>(s) + 1, &readSet, nullptr, nullptr, &tick) <= 0) {
            continue;
        }
        char buffer[512];
        sockaddr_in peer{};
        socklen_t peerLength = sizeof peer;
        const int got = static_cast<int>(
            recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &peerLength));
        if (got < 0) {
            continue;
        }
        ++m_requests;
        const Datagram request(buffer, buffer + got);
        for (const Datagram& reply : m_responder(request)) {
            sendto(s, reinterpret_cast<const char*>(reply.data()), static_cast<int>(reply.size()),
                   0, reinterpret_cast<sockaddr*>(&peer), peerLength);
        }
    }
}

int OpenHandleCount() {
#ifdef _WIN32
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count) || count == 0) {
        return -1;
    }
    return static_cast<int>(count);
#else
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        // Only this thread reads the directory stream it opened.
        while (readdir(dir) != nullptr) {  // NOLINT(concurrency-mt-unsafe)
            ++count;
        }
        closedir(dir);
    }
    return count;
#endif
}
