#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/socket.h>

namespace sayloft {

// The addresses from which the service accepts a PROXY protocol header (--trusted-proxy): exact
// addresses or CIDR prefixes, IPv4 or IPv6. An IPv4 peer seen on an IPv6 socket
// (::ffff:a.b.c.d) matches its IPv4 entries.
class TrustedProxies {
public:
    // A comma-separated list ("127.0.0.1,10.0.0.0/8,::1"); nullopt with *error for an entry
    // that is not an address or has a prefix length out of range.
    static std::optional<TrustedProxies> parse(std::string_view list, std::string* error);

    // Adds the entries of `other`.
    void add(const TrustedProxies& other);
    bool empty() const { return entries_.empty(); }
    bool trusts(const sockaddr* peer) const;

private:
    struct Entry {
        std::array<std::uint8_t, 16> address{};  // IPv4 as IPv4-mapped IPv6
        unsigned prefixBits = 128;
    };
    std::vector<Entry> entries_;
};

}  // namespace sayloft
