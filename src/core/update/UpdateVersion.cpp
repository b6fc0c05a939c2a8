#include "core/update/UpdateVersion.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sayloft {

namespace {

constexpr std::size_t maxComponents = 8;
constexpr std::size_t maxDigits = 9;

// The components of a valid version; empty for anything else.
std::vector<std::uint32_t> components(std::string_view text) {
    std::vector<std::uint32_t> parts;
    std::size_t digits = 0;
    std::uint32_t value = 0;
    for (const char c : text) {
        if (c == '.') {
            if (digits == 0) {
                return {};
            }
            parts.push_back(value);
            digits = 0;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            if (++digits > maxDigits) {
                return {};
            }
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        } else {
            return {};
        }
    }
    if (digits == 0) {
        return {};
    }
    parts.push_back(value);
    if (parts.size() > maxComponents) {
        return {};
    }
    return parts;
}

}  // namespace

bool UpdateVersion::isValid(std::string_view text) {
    return !components(text).empty();
}

int UpdateVersion::compare(std::string_view a, std::string_view b) {
    const auto left = components(a);
    const auto right = components(b);
    if (left.empty() || right.empty()) {
        return static_cast<int>(!left.empty()) - static_cast<int>(!right.empty());
    }
    for (std::size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::uint32_t l = i < left.size() ? left[i] : 0;
        const std::uint32_t r = i < right.size() ? right[i] : 0;
        if (l != r) {
            return l < r ? -1 : 1;
        }
    }
    return 0;
}

}  // namespace sayloft
