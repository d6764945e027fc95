// Datagram sockets of either IP family, for the check of several servers at once: names
// resolved to IPv4 or IPv6 addresses, and one wait over many sockets. The window and the
// classic console form keep their IPv4 look-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace platform {

enum class AddressFamily { kAny, kIPv4, kIPv6 };

// A sockaddr_in or sockaddr_in6, as the resolver gave it.
struct SocketAddress {
    alignas(8) unsigned char storage[32] = {};
    int length = 0;

    const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(storage); }
};

// The first address the resolver gives for host (a name, a dotted IPv4 address, or an
// IPv6 literal with or without brackets) in the family asked, with port set. FALSE with
// the resolver's code (11001 unknown, 11004 no address of that family ...) as last error.
BOOL ResolveDatagramAddress(const char* host, int port, AddressFamily family,
                            SocketAddress* address);
// Up to maxCount distinct addresses of host in the resolver's order (a pool's servers), each
// with port set; FALSE as ResolveDatagramAddress.
BOOL ResolveDatagramAddresses(const char* host, int port, AddressFamily family,
                              std::size_t maxCount, std::vector<SocketAddress>* addresses);
// host as an address literal, without asking any resolver; FALSE when it is a name.
BOOL ResolveAddressLiteral(const char* host, int port, AddressFamily family,
                           SocketAddress* address);
// Sets the port of an IPv4 or IPv6 address (both keep it at the same place).
void SetAddressPort(SocketAddress* address, int port);
// The port of an IPv4 or IPv6 address.
int AddressPort(const SocketAddress& address);
// Whether two addresses are the same server: family, address and port.
bool SameAddress(const SocketAddress& a, const SocketAddress& b);
// The bytes of an address literal (4 for IPv4, 16 for IPv6; brackets allowed), read without
// asking any resolver; FALSE when host is a name or nothing.
BOOL AddressLiteralBytes(const char* host, std::vector<std::uint8_t>* bytes);
// The address without its port: "192.0.2.1", "2001:db8::1".
std::string AddressText(const SocketAddress& address);
// A datagram socket of the address's family; INVALID_SOCKET with the reason as last error.
// Where the system can, it stamps each datagram with its arrival time (Linux).
SOCKET SocketOpenDatagram(const SocketAddress& address);
// SocketReceive, and the UTC time at which the datagram arrived as the system stamped it,
// when it did (*stamped): that reading does not wait for this process to be scheduled.
int SocketReceiveStamped(SOCKET s, char* buffer, int size, std::int64_t* unixSeconds,
                         std::uint32_t* nanoseconds, bool* stamped);
// Waits until one of count sockets can be read, or timeoutMs passes; readable[i] tells
// which. The number of readable sockets, 0 on time-out, or SOCKET_ERROR.
int SocketsWaitReadable(const SOCKET* sockets, int count, bool* readable, DWORD timeoutMs);

}  // namespace platform
