#include "server/TrustedProxies.h"

#include <charconv>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace sayloft {
namespace {

constexpr std::array<std::uint8_t, 12> mappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

std::array<std::uint8_t, 16> mapped(const in_addr& v4) {
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), mappedPrefix.data(), mappedPrefix.size());
    std::memcpy(bytes.data() + 12, &v4, 4);
    return bytes;
}

bool samePrefix(const std::array<std::uint8_t, 16>& a, const std::array<std::uint8_t, 16>& b,
                unsigned bits) {
    const unsigned whole = bits / 8;
    if (std::memcmp(a.data(), b.data(), whole) != 0) {
        return false;
    }
    const unsigned restBits = bits % 8;
    if (restBits == 0) {
        return true;
    }
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - restBits));
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

std::optional<TrustedProxies> TrustedProxies::parse(std::string_view list, std::string* error) {
    TrustedProxies trusted;
    auto fail = [error](std::string_view entry) {
        if (error != nullptr) {
            *error = "not an address or CIDR prefix: '" + std::string(entry) + "'";
        }
        return std::nullopt;
    };
    while (!list.empty()) {
        const auto comma = list.find(',');
        const std::string_view entry = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        const auto slash = entry.find('/');
        const std::string address(entry.substr(0, slash));
        Entry parsed;
        unsigned maxBits = 128;
        in_addr v4{};
        in6_addr v6{};
        if (::inet_pton(AF_INET, address.c_str(), &v4) == 1) {
            parsed.address = mapped(v4);
            maxBits = 32;
        } else if (::inet_pton(AF_INET6, address.c_str(), &v6) == 1) {
            std::memcpy(parsed.address.data(), &v6, 16);
        } else {
            return fail(entry);
        }
        unsigned bits = maxBits;
        if (slash != std::string_view::npos) {
            const std::string_view length = entry.substr(slash + 1);
            const auto [end, ec] =
                std::from_chars(length.data(), length.data() + length.size(), bits);
            if (length.empty() || ec != std::errc() || end != length.data() + length.size() ||
                bits > maxBits) {
                return fail(entry);
            }
        }
        parsed.prefixBits = bits + (128 - maxBits);
        trusted.entries_.push_back(parsed);
    }
    if (trusted.empty()) {
        return fail(list);
    }
    return trusted;
}

void TrustedProxies::add(const TrustedProxies& other) {
    entries_.insert(entries_.end(), other.entries_.begin(), other.entries_.end());
}

bool TrustedProxies::trusts(const sockaddr* peer) const {
    std::array<std::uint8_t, 16> address{};
    if (peer->sa_family == AF_INET) {
        address = mapped(reinterpret_cast<const sockaddr_in*>(peer)->sin_addr);
    } else if (peer->sa_family == AF_INET6) {
        std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr, 16);
    } else {
        return false;
    }
    for (const Entry& entry : entries_) {
        if (samePrefix(address, entry.address, entry.prefixBits)) {
            return true;
        }
    }
    return false;
}

}  // namespace sayloft
