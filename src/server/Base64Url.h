#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sayloft {

// The URL-safe base64 alphabet of RFC 4648 section 5, without padding.
struct Base64Url {
    static std::string encode(std::span<const std::uint8_t> bytes);
    // nullopt for a character outside the alphabet, padding, a length of 1 mod 4, or stray bits
    // in the last character (so every byte string has exactly one accepted text).
    static std::optional<std::vector<std::uint8_t>> decode(std::string_view text);
};

}  // namespace sayloft
