// POSIX side of the stream socket: a non-blocking socket and poll.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/platform.h"
#include "platform/posix_errors.h"
#include "platform/stream_socket.h"

namespace platform {
namespace {

void KeepErrno() {
    SetLastError(WinsockCodeFromErrno(errno));
}

// poll for one event; a signal does not end the wait early.
int PollFor(int fd, short events, DWORD timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        pollfd entry{fd, events, 0};
        const int rc = ::poll(&entry, 1, static_cast<int>(left.count() > 0 ? left.count() : 0));
        if (rc >= 0) {
            return rc;
        }
        if (errno != EINTR) {
            KeepErrno();
            return SOCKET_ERROR;
        }
    }
}

}  // namespace

BOOL StreamSocket::Connect(const SocketAddress& address, DWORD timeoutMs) {
    Close();
    const int fd =
        ::socket(address.Get()->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        KeepErrno();
        return FALSE;
    }
    m_socket = static_cast<SOCKET>(fd);
    // The key exchange is a few small messages each way: none may wait for an acknowledgement.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(fd, address.Get(), static_cast<socklen_t>(address.length)) == 0) {
        return TRUE;
    }
    if (errno != EINPROGRESS) {
        KeepErrno();
        Close();
        return FALSE;
    }
    const int ready = PollFor(fd, POLLOUT, timeoutMs);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready == 0) {
        error = ETIMEDOUT;
    } else if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        error = errno;
    }
    if (error != 0) {
        SetLastError(WinsockCodeFromErrno(error));
        Close();
        return FALSE;
    }
    return TRUE;
}

int StreamSocket::Send(const void* data, int size) {
    const ssize_t sent =
        ::send(static_cast<int>(m_socket), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (sent < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(sent);
}

int StreamSocket::Receive(void* buffer, int size) {
    const ssize_t got = ::recv(static_cast<int>(m_socket), buffer, static_cast<size_t>(size), 0);
    if (got < 0) {
        KeepErrno();
        return SOCKET_ERROR;
    }
    return static_cast<int>(got);
}

int StreamSocket::Wait(StreamWait what, DWORD timeoutMs) {
    return PollFor(static_cast<int>(m_socket), what == StreamWait::kReadable ? POLLIN : POLLOUT,
                   timeoutMs);
}

void StreamSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        ::close(static_cast<int>(m_socket));
        m_socket = INVALID_SOCKET;
    }
}

}  // namespace platform
