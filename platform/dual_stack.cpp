// Name look-up of either family through getaddrinfo, which Winsock 1.1 lacks: on Windows
// it comes from Winsock 2, whose header must precede windows.h and its 1.1 header.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/dual_stack.h"
#include "platform/platform.h"
#ifndef _WIN32
#include "platform/posix_errors.h"
#endif

namespace platform {
namespace {

int FamilyHint(AddressFamily family) {
    switch (family) {
        case AddressFamily::kIPv4:
            return AF_INET;
        case AddressFamily::kIPv6:
            return AF_INET6;
        case AddressFamily::kAny:
            break;
    }
    return AF_UNSPEC;
}

// "[2001:db8::1]" as the resolver wants it: without the brackets.
std::string WithoutBrackets(const char* host) {
    const std::size_t length = std::strlen(host);
    if (length >= 2 && host[0] == '[' && host[length - 1] == ']') {
        return std::string(host + 1, length - 2);
    }
    return host;
}

DWORD ResolverCode(int rc) {
#ifdef _WIN32
    return static_cast<DWORD>(rc);  // getaddrinfo's codes are Winsock's own
#else
    return WinsockCodeFromResolver(rc);
#endif
}

BOOL Resolve(const char* host, int port, AddressFamily family, std::size_t maxCount, int flags,
             std::vector<SocketAddress>* addresses) {
    addrinfo hints{};
    hints.ai_flags = flags;
    hints.ai_family = FamilyHint(family);
    hints.ai_socktype = SOCK_DGRAM;
    const std::string service = std::to_string(port & 0xFFFF);
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(WithoutBrackets(host).c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        SetLastError(ResolverCode(rc));
        return FALSE;
    }
    addresses->clear();
    for (const addrinfo* entry = found; entry != nullptr && addresses->size() < maxCount;
         entry = entry->ai_next) {
        SocketAddress address;
        if (entry->ai_addrlen > sizeof address.storage) {
            continue;
        }
        std::memcpy(address.storage, entry->ai_addr, entry->ai_addrlen);
        address.length = static_cast<int>(entry->ai_addrlen);
        const bool seen =
            std::any_of(addresses->begin(), addresses->end(),
                        [&](const SocketAddress& a) { return SameAddress(a, address); });
        if (!seen) {
            addresses->push_back(address);
        }
    }
    ::freeaddrinfo(found);
    if (addresses->empty()) {
        SetLastError(WSANO_DATA);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL ResolveDatagramAddresses(const char* host, int port, AddressFamily family,
                              std::size_t maxCount, std::vector<SocketAddress>* addresses) {
    return Resolve(host, port, family, maxCount, 0, addresses);
}

BOOL ResolveAddressLiteral(const char* host, int port, AddressFamily family,
                           SocketAddress* address) {
    std::vector<SocketAddress> found;
    if (!Resolve(host, port, family, 1, AI_NUMERICHOST, &found)) {
        return FALSE;
    }
    *address = found.front();
    return TRUE;
}

BOOL ResolveDatagramAddress(const char* host, int port, AddressFamily family,
                            SocketAddress* address) {
    std::vector<SocketAddress> found;
    if (!ResolveDatagramAddresses(host, port, family, 1, &found)) {
        return FALSE;
    }
    *address = found.front();
    return TRUE;
}

void SetAddressPort(SocketAddress* address, int port) {
    // sin_port and sin6_port: the two bytes after the family, in network order.
    static_assert(offsetof(sockaddr_in, sin_port) == 2 && offsetof(sockaddr_in6, sin6_port) == 2,
                  "the port is not where both families keep it");
    if (address->length >= 4) {
        address->storage[2] = static_cast<unsigned char>(port >> 8 & 0xFF);
        address->storage[3] = static_cast<unsigned char>(port & 0xFF);
    }
}

int AddressPort(const SocketAddress& address) {
    return address.length >= 4 ? address.storage[2] << 8 | address.storage[3] : 0;
}

bool SameAddress(const SocketAddress& a, const SocketAddress& b) {
    // The resolver leaves every byte it does not fill zero (flow info, scope of a global
    // address), so equal bytes are equal addresses.
    return a.length == b.length &&
           std::memcmp(a.storage, b.storage, static_cast<std::size_t>(a.length)) == 0;
}

BOOL AddressLiteralBytes(const char* host, std::vector<std::uint8_t>* bytes) {
    SocketAddress literal;
    if (!ResolveAddressLiteral(host, 0, AddressFamily::kAny, &literal)) {
        return FALSE;
    }
    const sockaddr* address = literal.Get();
    const void* start = nullptr;
    std::size_t size = 0;
    if (address->sa_family == AF_INET) {
        start = &reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
        size = 4;
    } else {
        start = &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        size = 16;
    }
    const auto* first = static_cast<const std::uint8_t*>(start);
    bytes->assign(first, first + size);
    return TRUE;
}

std::string AddressText(const SocketAddress& address) {
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(address.Get(), static_cast<socklen_t>(address.length), text, sizeof text,
                      nullptr, 0, NI_NUMERICHOST) != 0) {
        return "?";
    }
    return text;
}

}  // namespace platform
