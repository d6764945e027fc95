// POSIX side of the platform layer. It keeps the Win32 contract: failures leave a code in
// a per-thread last-error slot, socket errors as their Winsock numbers where one exists.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/dual_stack.h"
#include "platform/platform.h"
#include "platform/posix_errors.h"

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;

void KeepErrno() {
    t_lastError = WinsockCodeFromErrno(errno);
}

int Descriptor(SOCKET s) {
    return static_cast<int>(s);
}

}  // namespace

DWORD LastError() {
    return t_lastError;
}
void SetLastError(DWORD code) {
    t_lastError = code;
}

void UtcNow(SYSTEMTIME* now) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // Round to the nearest millisecond: truncating would bias every reading by half a step.
    long long ms = static_cast<long long>(ts.tv_sec) * 1000 + (ts.tv_nsec + 500000) / 1000000;
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    now->wYear = static_cast<WORD>(utc.tm_year + 1900);
    now->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    now->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    now->wDay = static_cast<WORD>(utc.tm_mday);
    now->wHour = static_cast<WORD>(utc.tm_hour);
    now->wMinute = static_cast<WORD>(utc.tm_min);
    now->wSecond = static_cast<WORD>(utc.tm_sec > 59 ? 59 : utc.tm_sec);
    now->wMilliseconds = static_cast<WORD>(ms % 1000);
}

void PreciseUtcNow(std::int64_t* unixSeconds, std::uint32_t* nanoseconds) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    *unixSeconds = ts.tv_sec;
    *nanoseconds = static_cast<std::uint32_t>(ts.tv_nsec);
}

BOOL RandomBytes(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::getrandom(bytes, size, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            KeepErrno();
            return FALSE;
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return TRUE;
}

SOCKET SocketOpenUdp() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        KeepErrno();
        return INVALID_SOCKET;
    }
    return static_cast<SOCKET>(fd);
}

int SocketConnect(SOCKET s, const sockaddr* address, int length) {
    const int rc = ::connect(Descriptor(s), address, static_cast<socklen_t>(length));
    if (rc != 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return 0;
}

int SocketSend(SOCKET s, const char* data, int length) {
    const ssize_t sent = ::send(Descriptor(s), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    if (sent < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

int SocketReceive(SOCKET s, char* buffer, int size) {
    const ssize_t got = ::recv(Descriptor(s), buffer, static_cast<size_t>(size), 0);
    if (got < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(got);
}

int SocketSelectReadable(SOCKET s, timeval* timeout) {
    // poll rather than select: select's descriptor sets stop at FD_SETSIZE.
    pollfd entry{Descriptor(s), POLLIN, 0};
    const long long ms = static_cast<long long>(timeout->tv_sec) * 1000 + timeout->tv_usec / 1000;
    const int rc = ::poll(&entry, 1, static_cast<int>(ms));
    if (rc < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return rc;
}

SOCKET SocketOpenDatagram(const SocketAddress& address) {
    const int fd = ::socket(address.Get()->sa_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        KeepErrno();
        return INVALID_SOCKET;
    }
    // Without the stamps the caller reads the clock itself: no reason to fail.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return static_cast<SOCKET>(fd);
}

int SocketReceiveStamped(SOCKET s, char* buffer, int size, std::int64_t* unixSeconds,
                         std::uint32_t* nanoseconds, bool* stamped) {
    iovec data{buffer, static_cast<size_t>(size)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = ::recvmsg(Descriptor(s), &message, 0);
    *stamped = false;
    if (got < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
            timespec arrival{};
            std::memcpy(&arrival, CMSG_DATA(c), sizeof arrival);
            *unixSeconds = arrival.tv_sec;
            *nanoseconds = static_cast<std::uint32_t>(arrival.tv_nsec);
            *stamped = true;
        }
    }
    return static_cast<int>(got);
}

int SocketsWaitReadable(const SOCKET* sockets, int count, bool* readable, DWORD timeoutMs) {
    std::vector<pollfd> entries(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries[i] = pollfd{Descriptor(sockets[i]), POLLIN, 0};
    }
    const int rc = ::poll(entries.data(), entries.size(), static_cast<int>(timeoutMs));
    if (rc < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    for (int i = 0; i < count; ++i) {
        // An error is readable too: the receive then reports it.
        readable[i] = (entries[i].revents & (POLLIN | POLLERR)) != 0;
    }
    return rc;
}

void SocketClose(SOCKET s) {
    ::close(Descriptor(s));
}

unsigned long ParseDottedAddress(const char* text) {
    return ::inet_addr(text);
}

BOOL ResolveHostAddress(const char* host, in_addr* address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(host, nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        t_lastError = rc != 0 ? WinsockCodeFromResolver(rc) : WSANO_DATA;
        return FALSE;
    }
    *address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return TRUE;
}

}  // namespace platform
