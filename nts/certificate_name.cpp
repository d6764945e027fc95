#include "nts/certificate_name.h"

#include <algorithm>
#include <cctype>

#include "platform/dual_stack.h"

namespace nts {
namespace {

std::string Canonical(std::string name) {
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

bool DnsNameMatches(std::string pattern, const std::string& host) {
    pattern = Canonical(std::move(pattern));
    if (pattern.empty() || host.empty()) {
        return false;
    }
    if (pattern.compare(0, 2, "*.") != 0) {
        return pattern == host;
    }
    // "*.example.org": one whole label, and never a name of fewer than three labels.
    const std::string rest = pattern.substr(1);  // ".example.org"
    const std::size_t firstDot = host.find('.');
    return rest.find('.', 1) != std::string::npos && rest.find('*') == std::string::npos &&
           firstDot != std::string::npos && firstDot > 0 &&
           host.compare(firstDot, rest.size(), rest) == 0 && host.size() == firstDot + rest.size();
}

}  // namespace

bool CertificateNamesHost(const std::vector<AltName>& names, const std::string& host) {
    std::vector<std::uint8_t> address;
    if (platform::AddressLiteralBytes(host.c_str(), &address)) {
        const std::string bytes(address.begin(), address.end());
        return std::any_of(names.begin(), names.end(), [&bytes](const AltName& name) {
            return name.kind == AltName::Kind::kIpAddress && name.value == bytes;
        });
    }
    const std::string wanted = Canonical(host);
    return std::any_of(names.begin(), names.end(), [&wanted](const AltName& name) {
        return name.kind == AltName::Kind::kDns && DnsNameMatches(name.value, wanted);
    });
}

}  // namespace nts
