#pragma once

#include <string>
#include <string_view>

namespace sayloft {

// Groups client addresses by the network they come from, so that a limit per client cannot be
// escaped by taking the next address of one's own subnet: an IPv4 address counts as its /24, an
// IPv6 address as its /64, and an IPv4-mapped IPv6 address (::ffff:a.b.c.d) as the IPv4 one.
// Takes the numeric text a socket layer gives (inet_ntop's), with or without [brackets] or a
// %zone; anything else is its own group.
struct AddressPrefix {
    // "10.1.2.0/24", "2001:db8:1:2::/64"; text that is not an address: the text itself.
    static std::string keyOf(std::string_view address);

    // 127.0.0.0/8, ::1 and ::ffff:127.0.0.0/104. False for anything else, the empty text too.
    static bool isLoopback(std::string_view address);
};

}  // namespace sayloft
