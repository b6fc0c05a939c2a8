#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include "server/TrustedProxies.h"

namespace sayloft {
namespace {

// The peer's socket address, as accept() gives it (IPv4 or IPv6 family by the text).
sockaddr_storage peer(const char* text) {
    sockaddr_storage address{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    if (::inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        return address;
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    EXPECT_EQ(::inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
    v6->sin6_family = AF_INET6;
    return address;
}

TEST(TrustedProxies, MatchesExactAddressesAndPrefixes) {
    std::string error;
    const auto trusted =
        TrustedProxies::parse("127.0.0.1,10.1.0.0/16,192.168.7.128/25,2001:db8::/32,::1", &error);
    ASSERT_TRUE(trusted) << error;
    const std::pair<const char*, bool> rows[] = {
        {"127.0.0.1", true},         {"127.0.0.2", false},    {"10.1.255.3", true},
        {"10.2.0.1", false},         {"192.168.7.200", true}, {"192.168.7.127", false},
        {"2001:db8:5::1", true},     {"2001:db9::1", false},  {"::1", true},
        {"::ffff:127.0.0.1", true},  // an IPv4 peer on an IPv6 socket
        {"::ffff:127.0.0.3", false}, {"::2", false},
    };
    for (const auto& [address, expected] : rows) {
        const sockaddr_storage p = peer(address);
        EXPECT_EQ(trusted->trusts(reinterpret_cast<const sockaddr*>(&p)), expected) << address;
    }
}

TEST(TrustedProxies, RefusesWhatIsNoAddressOrPrefix) {
    for (const char* list : {"", "proxy.example", "::1/129", "10.0.0.1/x", "127.0.0.1,,::1"}) {
        std::string error;
        EXPECT_FALSE(TrustedProxies::parse(list, &error)) << list;
        EXPECT_NE(error.find("not an address"), std::string::npos) << list;
    }
}

}  // namespace
}  // namespace sayloft
