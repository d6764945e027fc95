// POSIX side of the platform layer. It keeps the Win32 contract: failures leave a code in
// a per-thread last-error slot, socket errors as their Winsock numbers where one exists.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace platform {
namespace {

thread_local DWORD t_lastError = 0;

// Winsock numbers for the errno values a datagram client can meet, so that a reason reads
// the same on both platforms. Anything else is passed on as the errno value.
DWORD WinsockCodeFromErrno(int error) {
    switch (error) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case EMFILE:
            return 10024;
        case EWOULDBLOCK:
            return 10035;
        case EMSGSIZE:
            return 10040;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRNOTAVAIL:
            return 10049;
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENOBUFS:
            return 10055;
        case ETIMEDOUT:
            return 10060;
        case ECONNREFUSED:
            return 10061;
        case EHOSTUNREACH:
            return 10065;
        default:
            return static_cast<DWORD>(error);
    }
}

void KeepErrno() {
    t_lastError = WinsockCodeFromErrno(errno);
}

DWORD WinsockCodeFromResolver(int error) {
    switch (error) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
#endif
        case EAI_SYSTEM:
            return WinsockCodeFromErrno(errno);
        default:
            return 11003;  // WSANO_RECOVERY
    }
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
