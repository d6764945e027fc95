// Windows side of the stream socket: a socket in non-blocking mode and select. Winsock 1.1
// has all of it; a failed connect shows in the exception set.
#include "platform/stream_socket.h"

namespace platform {
namespace {

timeval Timeval(DWORD timeoutMs) {
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<long>(timeoutMs % 1000 * 1000);
    return timeout;
}

// select for one event on s, with its exception set too (where a failed connect shows):
// the count of ready sockets, 0 on time-out, or SOCKET_ERROR; *failed tells the exception.
int SelectFor(SOCKET s, StreamWait what, DWORD timeoutMs, bool* failed) {
    fd_set waitSet;
    fd_set failSet;
    FD_ZERO(&waitSet);
    FD_ZERO(&failSet);
    FD_SET(s, &waitSet);
    FD_SET(s, &failSet);
    timeval timeout = Timeval(timeoutMs);
    const int rc = ::select(0, what == StreamWait::kReadable ? &waitSet : nullptr,
                            what == StreamWait::kWritable ? &waitSet : nullptr, &failSet, &timeout);
    *failed = rc > 0 && FD_ISSET(s, &failSet);
    return rc;
}

}  // namespace

BOOL StreamSocket::Connect(const SocketAddress& address, DWORD timeoutMs) {
    Close();
    m_socket = ::socket(address.Get()->sa_family, SOCK_STREAM, 0);
    if (m_socket == INVALID_SOCKET) {
        return FALSE;
    }
    u_long nonBlocking = 1;
    const BOOL on = TRUE;
    if (::ioctlsocket(m_socket, FIONBIO, &nonBlocking) != 0) {
        Close();
        return FALSE;
    }
    // The key exchange is a few small messages each way: none may wait for an acknowledgement.
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (::connect(m_socket, address.Get(), address.length) == 0) {
        return TRUE;
    }
    if (static_cast<DWORD>(::WSAGetLastError()) != kWouldBlock) {
        const auto error = static_cast<DWORD>(::WSAGetLastError());
        Close();
        ::SetLastError(error);
        return FALSE;
    }
    bool failed = false;
    const int ready = SelectFor(m_socket, StreamWait::kWritable, timeoutMs, &failed);
    DWORD error = 0;
    if (ready == 0) {
        error = WSAETIMEDOUT;
    } else if (ready == SOCKET_ERROR) {
        error = static_cast<DWORD>(::WSAGetLastError());
    } else if (failed) {
        int code = 0;
        int length = static_cast<int>(sizeof code);
        ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length);
        error = code != 0 ? static_cast<DWORD>(code) : WSAECONNREFUSED;
    }
    if (error != 0) {
        Close();
        ::SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

int StreamSocket::Send(const void* data, int size) {
    return ::send(m_socket, static_cast<const char*>(data), size, 0);
}

int StreamSocket::Receive(void* buffer, int size) {
    return ::recv(m_socket, static_cast<char*>(buffer), size, 0);
}

int StreamSocket::Wait(StreamWait what, DWORD timeoutMs) {
    // A socket in the exception set is ready too: the next call reports its error.
    bool failed = false;
    const int rc = SelectFor(m_socket, what, timeoutMs, &failed);
    if (rc == SOCKET_ERROR) {
        return SOCKET_ERROR;
    }
    return rc > 0 ? 1 : 0;
}

void StreamSocket::Close() {
    if (m_socket != INVALID_SOCKET) {
        ::closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
}

}  // namespace platform
