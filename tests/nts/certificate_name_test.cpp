// The name check made on every trust path: DNS names for host names, IP address entries for
// literals, one wildcard label at most, and nothing across the two kinds.
#include "nts/certificate_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using nts::AltName;

AltName Dns(const std::string& name) {
    return {AltName::Kind::kDns, name};
}

AltName Ip(std::vector<int> bytes) {
    return {AltName::Kind::kIpAddress, std::string(bytes.begin(), bytes.end())};
}

TEST(CertificateName, HostsAgainstAlternativeNames) {
    const std::vector<int> loopback6(16, 0);
    std::vector<int> one6 = loopback6;
    one6[15] = 1;
    const std::vector<AltName> names = {Dns("localhost"), Dns("NTP.Example.org"),
                                        Dns("*.pool.example.net"), Ip({127, 0, 0, 1}), Ip(one6)};
    struct Case {
        const char* host;
        bool named;
    };
    const Case cases[] = {
        {"localhost", true},
        {"LOCALHOST", true},
        {"localhost.", true},
        {"ntp.example.org", true},
        {"example.org", false},
        {"xntp.example.org", false},
        {"ntp.example.org.evil.test", false},
        {"a.pool.example.net", true},
        {"a.b.pool.example.net", false},  // a wildcard is one label
        {"pool.example.net", false},
        {".pool.example.net", false},
        {"127.0.0.1", true},
        {"127.0.0.2", false},
        {"::1", true},
        {"[::1]", true},
        {"0:0:0:0:0:0:0:1", true},
        {"::2", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nts::CertificateNamesHost(names, c.host), c.named) << c.host;
    }
}

TEST(CertificateName, NoMatchAcrossKindsOrFromBadWildcards) {
    // An address written as a DNS entry names no address, and an address entry no name.
    EXPECT_FALSE(nts::CertificateNamesHost({Dns("127.0.0.1")}, "127.0.0.1"));
    EXPECT_FALSE(nts::CertificateNamesHost({Ip({127, 0, 0, 1})}, "localhost"));
    // An IPv4 entry does not name the IPv4-mapped IPv6 address, nor the other way round.
    EXPECT_FALSE(nts::CertificateNamesHost({Ip({127, 0, 0, 1})}, "::ffff:127.0.0.1"));
    // Wildcards only as the whole first label, and not over a single-label suffix.
    EXPECT_FALSE(nts::CertificateNamesHost({Dns("*.org")}, "example.org"));
    EXPECT_FALSE(nts::CertificateNamesHost({Dns("n*.example.org")}, "ntp.example.org"));
    EXPECT_FALSE(nts::CertificateNamesHost({Dns("ntp.*.org")}, "ntp.example.org"));
    EXPECT_FALSE(nts::CertificateNamesHost({Dns("*")}, "localhost"));
    EXPECT_FALSE(nts::CertificateNamesHost({}, "localhost"));
    EXPECT_TRUE(nts::CertificateNamesHost({Dns("*.example.org.")}, "Ntp.Example.Org"));
}

}  // namespace
