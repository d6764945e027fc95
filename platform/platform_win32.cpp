// Windows side of the platform layer: the Win32 and Winsock 1.1 calls themselves.
#include "platform/platform.h"

namespace platform {

DWORD LastError() {
    return ::GetLastError();
}
void SetLastError(DWORD code) {
    ::SetLastError(code);
}

void UtcNow(SYSTEMTIME* now) {
    // The precise clock ticks in 100 ns steps; round it to the nearest millisecond rather
    // than take GetSystemTime's truncated reading.
    FILETIME precise{};
    ::GetSystemTimePreciseAsFileTime(&precise);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = precise.dwLowDateTime;
    ticks.HighPart = precise.dwHighDateTime;
    ticks.QuadPart = (ticks.QuadPart + 5000) / 10000 * 10000;
    FILETIME rounded{};
    rounded.dwLowDateTime = ticks.LowPart;
    rounded.dwHighDateTime = ticks.HighPart;
    ::FileTimeToSystemTime(&rounded, now);
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
    return ::recv(s, buffer, size, 0);
}

int SocketSelectReadable(SOCKET s, timeval* timeout) {
    fd_set readSet;
    FD_ZERO(&readSet);
    FD_SET(s, &readSet);
    return ::select(0, &readSet, nullptr, nullptr, timeout);
}

void SocketClose(SOCKET s) {
    ::closesocket(s);
}

unsigned long ParseDottedAddress(const char* text) {
    return ::inet_addr(text);
}

BOOL ResolveHostAddress(const char* host, in_addr* address) {
    // Winsock keeps the hostent per thread, so gethostbyname is safe on worker threads.
    const hostent* entry = ::gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return FALSE;
    }
    address->s_addr = *reinterpret_cast<const u_long*>(entry->h_addr_list[0]);
    return TRUE;
}

}  // namespace platform
