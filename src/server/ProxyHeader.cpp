#include "server/ProxyHeader.h"

#include <algorithm>
#include <array>

#include <arpa/inet.h>

namespace sayloft {
namespace {

constexpr std::array<std::uint8_t, 12> signature{0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr std::string_view versionOneStart = "PROXY ";

enum : std::uint8_t { commandLocal = 0x0, commandProxy = 0x1 };
enum : std::uint8_t { familyUnspec = 0x0, familyInet = 0x1, familyInet6 = 0x2 };
enum : std::uint8_t { protocolStream = 0x1 };

ProxyHeader::Parsed invalid(std::string reason) {
    ProxyHeader::Parsed parsed;
    parsed.status = ProxyHeader::Status::invalid;
    parsed.reason = std::move(reason);
    return parsed;
}

bool startsWith(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> prefix) {
    const std::size_t n = std::min(bytes.size(), prefix.size());
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n),
                      prefix.begin());
}

bool isVersionOne(std::span<const std::uint8_t> bytes) {
    const auto* v1 = reinterpret_cast<const std::uint8_t*>(versionOneStart.data());
    return bytes.size() >= versionOneStart.size() &&
           startsWith(bytes, std::span(v1, versionOneStart.size()));
}

}  // namespace

ProxyHeader::Parsed ProxyHeader::parse(std::span<const std::uint8_t> bytes) {
    if (isVersionOne(bytes)) {
        return invalid("the PROXY protocol's version 1 (text) is not accepted, only version 2");
    }
    if (!startsWith(bytes, signature)) {
        return invalid("no PROXY protocol version 2 signature");
    }
    if (bytes.size() < fixedBytes) {
        return {};
    }
    const std::uint8_t version = bytes[12] >> 4;
    const std::uint8_t command = bytes[12] & 0x0F;
    const std::uint8_t family = bytes[13] >> 4;
    const std::uint8_t protocol = bytes[13] & 0x0F;
    const std::size_t rest = (std::size_t{bytes[14]} << 8) | bytes[15];
    if (version != 2) {
        return invalid("PROXY protocol version " + std::to_string(version) + " is not accepted");
    }
    if (command != commandLocal && command != commandProxy) {
        return invalid("unknown PROXY command " + std::to_string(command));
    }
    if (fixedBytes + rest > maxBytes) {
        return invalid("PROXY header of " + std::to_string(fixedBytes + rest) +
                       " bytes exceeds the limit of " + std::to_string(maxBytes));
    }
    if (bytes.size() < fixedBytes + rest) {
        Parsed waiting;
        waiting.needed = fixedBytes + rest;
        return waiting;
    }
    Parsed parsed;
    parsed.status = Status::complete;
    parsed.length = fixedBytes + rest;
    if (command == commandLocal) {
        parsed.local = true;  // whatever addresses follow are ignored, as the protocol says
        return parsed;
    }
    if (protocol != protocolStream || (family != familyInet && family != familyInet6)) {
        return invalid(family == familyUnspec
                           ? "PROXY header without a client address"
                           : "PROXY header for a client that is not TCP over IPv4 or IPv6");
    }
    const std::size_t addressBytes = family == familyInet ? 4 : 16;
    if (rest < 2 * addressBytes + 4) {
        return invalid("PROXY header too short for its addresses");
    }
    const std::uint8_t* source = bytes.data() + fixedBytes;
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(family == familyInet ? AF_INET : AF_INET6, source, text, sizeof text);
    parsed.clientAddress = text;
    const std::uint8_t* port = source + 2 * addressBytes;
    parsed.clientPort = static_cast<std::uint16_t>((port[0] << 8) | port[1]);
    return parsed;
}

bool ProxyHeader::looksLikeOne(std::span<const std::uint8_t> bytes) {
    // Enough bytes to tell it from HTTP: the signature's NUL (5th byte) never begins a request.
    constexpr std::size_t telling = 5;
    return (bytes.size() >= telling && startsWith(bytes, signature)) || isVersionOne(bytes);
}

}  // namespace sayloft
