#include <gtest/gtest.h>

#include "server/AddressPrefix.h"

namespace sayloft {
namespace {

TEST(AddressPrefix, GroupsAddressesByTheirNetwork) {
    struct Row {
        const char* address;
        const char* key;
        bool loopback;
    };
    const Row rows[] = {
        {"10.1.2.3", "10.1.2.0/24", false},
        {"10.1.3.3", "10.1.3.0/24", false},
        {"::ffff:10.1.2.9", "10.1.2.0/24", false},  // IPv4-mapped counts as IPv4
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64", false},
        {"[2001:db8:1:2::7]", "2001:db8:1:2::/64", false},
        {"fe80::1%eth0", "fe80::/64", false},
        {"127.0.0.1", "127.0.0.0/24", true},
        {"::1", "::/64", true},
        {"::ffff:127.0.0.1", "127.0.0.0/24", true},
        {"::2", "::/64", false},
        {"128.0.0.1", "128.0.0.0/24", false},
        {"", "", false},
        {"localhost", "localhost", false},  // only numeric addresses are understood
    };
    for (const Row& row : rows) {
        EXPECT_EQ(AddressPrefix::keyOf(row.address), row.key) << row.address;
        EXPECT_EQ(AddressPrefix::isLoopback(row.address), row.loopback) << row.address;
    }
}

}  // namespace
}  // namespace sayloft
