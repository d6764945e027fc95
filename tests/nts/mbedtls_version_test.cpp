#include "nts/mbedtls_version.h"

#include <gtest/gtest.h>
#include <mbedtls/build_info.h>

#include <cstdio>

namespace {

// The linked library is the one whose headers were compiled against (a stale cache or a
// system copy would break the structure layouts silently), and new enough for NTS.
TEST(MbedTlsVersion, LinkedLibraryMatchesItsHeadersAndIsRecentEnough) {
    const std::string version = nts::MbedTlsVersion();
    EXPECT_EQ(version, MBEDTLS_VERSION_STRING);
    int major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(version.c_str(), "%d.%d.%d", &major, &minor, &patch), 3) << version;
    EXPECT_GE(major * 10000 + minor * 100 + patch, 30604) << version;
}

}  // namespace
