#include "server/AddressPrefix.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <variant>

#include <arpa/inet.h>

namespace sayloft {
namespace {

using V4 = std::array<std::uint8_t, 4>;
using V6 = std::array<std::uint8_t, 16>;

// The address's bytes, an IPv4-mapped IPv6 address as IPv4; nullopt for text that is none.
std::optional<std::variant<V4, V6>> parse(std::string_view text) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
        text = text.substr(1, text.size() - 2);
    }
    if (const auto zone = text.find('%'); zone != std::string_view::npos) {
        text = text.substr(0, zone);
    }
    if (text.empty() || text.size() > INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    V4 v4{};
    if (::inet_pton(AF_INET, terminated.c_str(), v4.data()) == 1) {
        return v4;
    }
    V6 v6{};
    if (::inet_pton(AF_INET6, terminated.c_str(), v6.data()) != 1) {
        return std::nullopt;
    }
    constexpr std::array<std::uint8_t, 12> mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(v6.data(), mapped.data(), mapped.size()) == 0) {
        return V4{v6[12], v6[13], v6[14], v6[15]};
    }
    return v6;
}

}  // namespace

std::string AddressPrefix::keyOf(std::string_view address) {
    const auto parsed = parse(address);
    if (!parsed) {
        return std::string(address);
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (const auto* v4 = std::get_if<V4>(&*parsed)) {
        V4 network = *v4;
        network[3] = 0;
        ::inet_ntop(AF_INET, network.data(), text, sizeof text);
        return std::string(text) + "/24";
    }
    V6 network = std::get<V6>(*parsed);
    std::memset(network.data() + 8, 0, 8);
    ::inet_ntop(AF_INET6, network.data(), text, sizeof text);
    return std::string(text) + "/64";
}

bool AddressPrefix::isLoopback(std::string_view address) {
    const auto parsed = parse(address);
    if (!parsed) {
        return false;
    }
    if (const auto* v4 = std::get_if<V4>(&*parsed)) {
        return (*v4)[0] == 127;
    }
    constexpr V6 loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::get<V6>(*parsed) == loopback;
}

}  // namespace sayloft
