// Whether a server's certificate is the one of the host asked for: the name given on the
// command line against the certificate's subject alternative names, DNS names for a host
// name and IP address entries for an address literal (RFC 6125). This check is made on every
// trust path, whatever the TLS library or the system's policy already did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nts {

struct AltName {
    enum class Kind { kDns, kIpAddress };
    Kind kind;
    std::string value;  // the DNS name, or the 4 or 16 bytes of the address
};

// host: a DNS name (any case, a final dot allowed), or an IPv4 or IPv6 literal, with or
// without brackets. A DNS entry may start with one wildcard label ("*.example.org"), which
// stands for exactly one label of the host.
bool CertificateNamesHost(const std::vector<AltName>& names, const std::string& host);

}  // namespace nts
