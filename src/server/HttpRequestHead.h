#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sayloft {

// A request's line and headers, complete, before any byte of its body was read.
struct HttpRequestHead {
    std::string method{};
    std::string path{};           // without the query
    std::string remoteAddress{};  // numeric IP address; empty on the Unix socket
    std::vector<std::pair<std::string, std::string>> headers{};
    std::optional<std::uint64_t> contentLength{};  // as declared
    bool chunked = false;                          // Transfer-Encoding: chunked

    bool hasBody() const { return chunked || contentLength.value_or(0) > 0; }

    // The value of the first header with this name (compared case-insensitively), or "".
    std::string_view header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(),
                           [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
                return value;
            }
        }
        return {};
    }
};

}  // namespace sayloft
