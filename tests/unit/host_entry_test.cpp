// Reading gethostbyname's answer: an answer without an IPv4 address is a failure with its
// reason, never a stale code from an earlier call.
#include <gtest/gtest.h>

#include "platform/platform.h"

namespace {

TEST(FirstHostAddress, TakesTheFirstAddressOrSaysThereIsNone) {
    char first[4] = {127, 0, 0, 9};
    char second[4] = {127, 0, 0, 10};
    char* addresses[] = {first, second, nullptr};
    hostent entry{};
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = addresses;
    in_addr address{};
    ASSERT_TRUE(platform::FirstHostAddress(&entry, &address));
    EXPECT_EQ(ntohl(address.s_addr), 0x7F000009u);

    char* none[] = {nullptr};
    entry.h_addr_list = none;
    platform::SetLastError(10060);
    EXPECT_FALSE(platform::FirstHostAddress(&entry, &address));
    EXPECT_EQ(platform::LastError(), static_cast<DWORD>(WSANO_DATA));

    entry.h_addr_list = addresses;
    entry.h_addrtype = AF_UNSPEC;  // an answer of another family
    platform::SetLastError(10060);
    EXPECT_FALSE(platform::FirstHostAddress(&entry, &address));
    EXPECT_EQ(platform::LastError(), static_cast<DWORD>(WSANO_DATA));
}

}  // namespace
