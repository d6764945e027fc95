// The platform layer under the portable time and network core: the thread's last-error
// code, the UTC clock, IPv4 datagram sockets, and the token, privilege and clock-setting
// calls. On Windows each function is the Win32/Winsock 1.1 call; elsewhere it is built on
// POSIX and keeps the Win32 contract (BOOL or count results, reason in the last-error code).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

namespace platform {

// --- Last-error code of the calling thread ---------------------------------------------
DWORD LastError();
void SetLastError(DWORD code);

// --- UTC clock ---------------------------------------------------------------------------
// The current UTC calendar time, rounded to the nearest millisecond (never wMilliseconds
// 1000: a reading that rounds up to the next second carries into it).
void UtcNow(SYSTEMTIME* now);

// The current UTC time from the finest clock there is (100 ns steps on Windows 8 and
// later, 1 ms on Windows 7; nanoseconds here): seconds since 1970-01-01 and nanoseconds.
void PreciseUtcNow(std::int64_t* unixSeconds, std::uint32_t* nanoseconds);

// --- Randomness --------------------------------------------------------------------------
// Fills buffer from the system's cryptographic generator; FALSE when it cannot.
BOOL RandomBytes(void* buffer, std::size_t size);

// --- Sockets (Winsock 1.1 semantics; the layer must be started on Windows) --------------
SOCKET SocketOpenUdp();
int SocketConnect(SOCKET s, const sockaddr* address, int length);
int SocketSend(SOCKET s, const char* data, int length);
int SocketReceive(SOCKET s, char* buffer, int size);
// select() on one socket for reading; the count, 0 on time-out, or SOCKET_ERROR.
int SocketSelectReadable(SOCKET s, timeval* timeout);
void SocketClose(SOCKET s);
// inet_addr: the address in network byte order, or INADDR_NONE.
unsigned long ParseDottedAddress(const char* text);
// Name look-up, IPv4 only; FALSE with the resolver's code (e.g. 11001) as last error.
BOOL ResolveHostAddress(const char* host, in_addr* address);
// The first IPv4 address of a resolver's answer; FALSE with 11004 (WSANO_DATA) when the
// answer holds no IPv4 address.
BOOL FirstHostAddress(const hostent* entry, in_addr* address);

// --- Token, privilege and clock-setting calls -------------------------------------------
// An interface so that tests can record every call instead of touching the real clock.
class SystemClockApi {
public:
    virtual ~SystemClockApi() = default;
    // GetCurrentProcess + OpenProcessToken. Without access tokens: FALSE, last error 120.
    virtual BOOL OpenProcessToken(DWORD access, HANDLE* token) = 0;
    // LookupPrivilegeValueA on the local system.
    virtual BOOL LookupPrivilegeValue(const char* name, LUID* luid) = 0;
    // AdjustTokenPrivileges(token, FALSE, state, 0, nullptr, nullptr).
    virtual BOOL AdjustTokenPrivileges(HANDLE token, TOKEN_PRIVILEGES* state) = 0;
    // SetSystemTime in UTC; natively clock_settime(CLOCK_REALTIME).
    virtual BOOL SetSystemTime(const SYSTEMTIME* utc) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
};

// The real calls of this platform.
SystemClockApi& RealSystemClockApi();

}  // namespace platform
