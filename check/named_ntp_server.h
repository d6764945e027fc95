// Where a key exchange may send this client's NTP requests (records 6 and 7, RFC 8915
// 4.1.7). A key-exchange server that could name any address would make its clients send
// their requests to a third party, or to a service of their own machine. The rules, all
// here:
//   - the server record is a dotted-decimal IPv4 address, an IPv6 address or a DNS name;
//     what a resolver would read as a number in another form ("0", "2130706433", "0x7f.1",
//     "127.1") is none of them;
//   - what it resolves to is a unicast address: not unspecified, multicast, broadcast,
//     reserved or link-local, and loopback only when the key-exchange server is itself on
//     loopback;
//   - the port record is not 0 (nts/ke_records.cpp refuses it with the response).
#pragma once

#include <string>

#include "platform/dual_stack.h"

namespace check {

// Why name cannot be an NTP server a key exchange names, for people ("the key exchange
// named 0x7f.1, neither ..."); empty when its form is one of the three.
std::string NtpServerNameFault(const std::string& name);

// Why the address that name resolved to is refused ("the key exchange named localhost
// (127.0.0.1), a loopback address"); empty when it may be asked. keAddress: where the key
// exchange itself was.
std::string NtpServerAddressFault(const std::string& name, const platform::SocketAddress& address,
                                  const platform::SocketAddress& keAddress);

}  // namespace check
