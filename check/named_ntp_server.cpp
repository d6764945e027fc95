#include "check/named_ntp_server.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <vector>

namespace check {
namespace {

bool AllOf(const std::string& text, int (*test)(int)) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [test](char c) {
        return test(static_cast<unsigned char>(c)) != 0;
    });
}

std::vector<std::string> Labels(const std::string& name) {
    std::vector<std::string> labels(1);
    for (const char c : name) {
        if (c == '.') {
            labels.emplace_back();
        } else {
            labels.back() += c;
        }
    }
    return labels;
}

// Four decimal parts of 0 to 255, without leading zeros (which inet_aton reads as octal).
bool IsDottedDecimal(const std::string& name) {
    const std::vector<std::string> parts = Labels(name);
    return parts.size() == 4 && std::all_of(parts.begin(), parts.end(), [](const std::string& p) {
               return AllOf(p, isdigit) && p.size() <= 3 && (p.size() == 1 || p[0] != '0') &&
                      std::stoi(p) <= 255;
           });
}

// Digits, or 0x and hex digits: a part that the resolver takes for a number.
bool IsNumeric(const std::string& label) {
    if (label.size() > 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
        return AllOf(label.substr(2), isxdigit);
    }
    return AllOf(label, isdigit);
}

// Labels of letters, digits, hyphens (and underscores, which DNS holds), none empty or
// longer than 63; the last one not a number, or the whole would be read as an address.
bool IsDnsName(const std::string& name) {
    std::string bare = name;
    if (!bare.empty() && bare.back() == '.') {
        bare.pop_back();  // the root
    }
    const std::vector<std::string> labels = Labels(bare);
    const bool wellFormed =
        bare.size() <= 253 && std::all_of(labels.begin(), labels.end(), [](const std::string& l) {
            return !l.empty() && l.size() <= 63 && l.front() != '-' && l.back() != '-' &&
                   std::all_of(l.begin(), l.end(), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' ||
                              c == '_';
                   });
        });
    return wellFormed && !IsNumeric(labels.back());
}

// The address in 4 or 16 bytes; an IPv4-mapped IPv6 address as its IPv4 address.
std::vector<std::uint8_t> BytesOf(const platform::SocketAddress& address) {
    std::vector<std::uint8_t> bytes;
    platform::AddressLiteralBytes(platform::AddressText(address).c_str(), &bytes);
    static const std::uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (bytes.size() == 16 && std::equal(kMapped, kMapped + 12, bytes.begin())) {
        bytes.erase(bytes.begin(), bytes.begin() + 12);
    }
    return bytes;
}

bool IsLoopback(const std::vector<std::uint8_t>& b) {
    if (b.size() == 4) {
        return b[0] == 127;
    }
    return b.size() == 16 && std::all_of(b.begin(), b.end() - 1, [](int x) { return x == 0; }) &&
           b[15] == 1;
}

// What keeps an address from being a unicast NTP server's; nullptr when nothing does.
const char* AddressClass(const std::vector<std::uint8_t>& b) {
    if (b.size() == 4) {
        if (b[0] == 0) {
            return "an unspecified address";  // 0.0.0.0/8: this host, this network
        }
        if (b[0] == 255 && b[1] == 255 && b[2] == 255 && b[3] == 255) {
            return "a broadcast address";
        }
        if (b[0] >= 224 && b[0] < 240) {
            return "a multicast address";
        }
        if (b[0] >= 240) {
            return "a reserved address";
        }
        if (b[0] == 169 && b[1] == 254) {
            return "a link-local address";
        }
        return nullptr;
    }
    if (b.size() != 16) {
        return "not an address";
    }
    if (std::all_of(b.begin(), b.end(), [](int x) { return x == 0; })) {
        return "an unspecified address";
    }
    if (b[0] == 0xFF) {
        return "a multicast address";
    }
    if (b[0] == 0xFE && (b[1] & 0xC0) == 0x80) {
        return "a link-local address";
    }
    return nullptr;
}

}  // namespace

std::string NtpServerNameFault(const std::string& name) {
    std::vector<std::uint8_t> ipv6;
    const bool form = name.find(':') != std::string::npos
                          ? name.front() != '[' &&
                                platform::AddressLiteralBytes(name.c_str(), &ipv6) &&
                                ipv6.size() == 16
                          : IsDottedDecimal(name) || IsDnsName(name);
    if (form) {
        return {};
    }
    return "the key exchange named " + name +
           ", neither a dotted-decimal IPv4 address, an IPv6 address nor a DNS name";
}

std::string NtpServerAddressFault(const std::string& name, const platform::SocketAddress& address,
                                  const platform::SocketAddress& keAddress) {
    const std::vector<std::uint8_t> bytes = BytesOf(address);
    const char* refused = AddressClass(bytes);
    if (refused == nullptr && IsLoopback(bytes) && !IsLoopback(BytesOf(keAddress))) {
        refused = "a loopback address, and the key exchange was not on loopback";
    }
    if (refused == nullptr) {
        return {};
    }
    const std::string text = platform::AddressText(address);
    return "the key exchange named " + name + (text == name ? "" : " (" + text + ")") + ", " +
           refused;
}

}  // namespace check
