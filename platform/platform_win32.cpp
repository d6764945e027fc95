// Windows side of the platform layer: the Win32 and Winsock 1.1 calls themselves.
#include "platform/dual_stack.h"
#include "platform/platform.h"
// After windows.h, which it needs:
#include <ntsecapi.h>

namespace platform {

DWORD LastError() {
    return ::GetLastError();
}
void SetLastError(DWORD code) {
    ::SetLastError(code);
}

namespace {

using FileTimeReader = VOID(WINAPI*)(LPFILETIME);

// The precise clock (100 ns steps) exists from Windows 8 on; imported directly it would
// keep the program from starting on Windows 7, which has only the ordinary system time.
FileTimeReader SystemFileTimeReader() {
    static const FileTimeReader reader = [] {
        const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
        const FARPROC precise = kernel != nullptr
                                    ? ::GetProcAddress(kernel, "GetSystemTimePreciseAsFileTime")
                                    : nullptr;
        // (through void (*)(): the one function type that casts to any other unwarned)
        return precise != nullptr
                   ? reinterpret_cast<FileTimeReader>(reinterpret_cast<void (*)()>(precise))
                   : &::GetSystemTimeAsFileTime;
    }();
    return reader;
}

}  // namespace

void UtcNow(SYSTEMTIME* now) {
    // Round the reading to the nearest millisecond rather than truncate it as
    // GetSystemTime does.
    FILETIME precise{};
    SystemFileTimeReader()(&precise);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = precise.dwLowDateTime;
    ticks.HighPart = precise.dwHighDateTime;
    ticks.QuadPart = (ticks.QuadPart + 5000) / 10000 * 10000;
    FILETIME rounded{};
    rounded.dwLowDateTime = ticks.LowPart;
    rounded.dwHighDateTime = ticks.HighPart;
    ::FileTimeToSystemTime(&rounded, now);
}

void PreciseUtcNow(std::int64_t* unixSeconds, std::uint32_t* nanoseconds) {
    // 100 ns ticks since 1601-01-01; 1970-01-01 is 11644473600 s later.
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::uint64_t kUnixEpochTicks = 11644473600ULL * kTicksPerSecond;
    FILETIME now{};
    SystemFileTimeReader()(&now);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) -
        kUnixEpochTicks;
    *unixSeconds = static_cast<std::int64_t>(ticks / kTicksPerSecond);
    *nanoseconds = static_cast<std::uint32_t>(ticks % kTicksPerSecond * 100);
}

BOOL RandomBytes(void* buffer, std::size_t size) {
    // RtlGenRandom, the system's generator, exported by advapi32 since Windows XP.
    return RtlGenRandom(buffer, static_cast<ULONG>(size)) ? TRUE : FALSE;
}

SOCKET SocketOpenUdp() {
    return ::socket(AF_INET, SOCK_DGRAM, 0);
}

int SocketConnect(SOCKET s, const sockaddr* address, int length) {
    return ::connect(s, address, length);
}

int SocketSend(SOCKET s, const char* data, int length) {
    return ::send(s, data, length, 0);
}

int SocketReceive(SOCKET s, char* buffer, int size) {
    const int got = ::recv(s, buffer, size, 0);
    // A datagram longer than the buffer: Winsock fills the buffer with its first bytes and
    // calls it an error, where POSIX returns the cut count. Report it as POSIX does, so a
    // long answer is read the same way on both.
    if (got == SOCKET_ERROR && ::WSAGetLastError() == WSAEMSGSIZE) {
        return size;
    }
    return got;
}

int SocketSelectReadable(SOCKET s, timeval* timeout) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    return ::select(0, &readSet, nullptr, nullptr, timeout);
}

SOCKET SocketOpenDatagram(const SocketAddress& address) {
    return ::socket(address.Get()->sa_family, SOCK_DGRAM, 0);
}

int SocketReceiveStamped(SOCKET s, char* buffer, int size, std::int64_t*, std::uint32_t*,
                         bool* stamped) {
    // Winsock stamps datagrams only from Windows 10 2004 on: the caller reads the clock.
    *stamped = false;
    return SocketReceive(s, buffer, size);
}

int SocketsWaitReadable(const SOCKET* sockets, int count, bool* readable, DWORD timeoutMs) {
    // Winsock's sets hold FD_SETSIZE (64) sockets: more than the check ever waits on.
    fd_set readSet;
    FD_ZERO(&readSet);
    for (int i = 0; i < count; ++i) {
        FD_SET(sockets[i], &readSet);
    }
    timeval timeout{};
    timeout.tv_sec = static_cast<long>(timeoutMs / 1000);
    timeout.tv_usec = static_cast<long>(timeoutMs % 1000 * 1000);
    const int rc = ::select(0, &readSet, nullptr, nullptr, &timeout);
    if (rc == SOCKET_ERROR) {
        return SOCKET_ERROR;
    }
    for (int i = 0; i < count; ++i) {
        readable[i] = FD_ISSET(sockets[i], &readSet) != 0;
    }
    return rc;
}

void SocketClose(SOCKET s) {
    ::closesocket(s);
}

unsigned long ParseDottedAddress(const char* text) {
    return ::inet_addr(text);
}

BOOL ResolveHostAddress(const char* host, in_addr* address) {
    // Winsock keeps the hostent per thread, so gethostbyname is safe on worker threads.
    // A failed look-up leaves its own code; an answer without an address gets "no data".
    const hostent* entry = ::gethostbyname(host);
    return entry != nullptr && FirstHostAddress(entry, address);
}

}  // namespace platform
