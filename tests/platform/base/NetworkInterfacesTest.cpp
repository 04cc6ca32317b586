#include <gtest/gtest.h>

#include "base/HostName.h"
#include "base/NetworkInterfaces.h"

namespace {

using Address = NetworkInterfaces::Address;

TEST(NetworkInterfaces, RunningAddressesOtherThanLoopbackComeFirstInIndexOrder) {
    const std::vector<Address> reported = {
        {"127.0.0.1", 1, true, true},     {"10.1.2.3", 5, true, false},
        {"192.168.1.20", 3, true, false}, {"172.16.0.9", 2, false, false},  // no carrier
        {"192.168.1.21", 3, true, false}, {"10.1.2.3", 6, true, false},     // seen twice
        {"127.0.1.1", 1, true, false},  // 127/8 is loopback whatever the flags say
    };
    EXPECT_EQ(NetworkInterfaces::ordered(reported),
              (std::vector<std::string>{"192.168.1.20", "192.168.1.21", "10.1.2.3", "127.0.0.1",
                                        "127.0.1.1"}));
    EXPECT_TRUE(NetworkInterfaces::ordered({{"10.0.0.1", 2, false, false}}).empty());
}

TEST(NetworkInterfaces, TheMachinesOwnListEndsWithLoopback) {
    const auto addresses = NetworkInterfaces::upIPv4();
    ASSERT_FALSE(addresses.empty());
    EXPECT_TRUE(NetworkInterfaces::isLoopback(addresses.back()));
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
    EXPECT_EQ(addresses, NetworkInterfaces::upIPv4());  // stable from one call to the next
}

TEST(NetworkInterfaces, LoopbackIsTheWhole127Network) {
    EXPECT_TRUE(NetworkInterfaces::isLoopback("127.0.0.1"));
    EXPECT_TRUE(NetworkInterfaces::isLoopback("127.255.1.1"));
    EXPECT_FALSE(NetworkInterfaces::isLoopback("128.0.0.1"));
    EXPECT_FALSE(NetworkInterfaces::isLoopback("255.255.255.255"));
    EXPECT_FALSE(NetworkInterfaces::isLoopback("localhost"));  // a name, not an address
    EXPECT_FALSE(NetworkInterfaces::isLoopback(""));
}

TEST(HostName, TheComputerNameIsTheFirstLabel) {
    EXPECT_EQ(computerNameOf("host.example.com"), "host");
    EXPECT_EQ(computerNameOf("host"), "host");
    EXPECT_EQ(computerNameOf("host."), "host");
    EXPECT_EQ(computerNameOf(""), "");
}

}  // namespace
