#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sayloft {

// One HTTP request as the service client builds it. The transport sends exactly these headers
// (plus the Host and Content-Length lines HTTP needs) and exactly these body bytes.
struct HttpRequest {
    std::string method = "GET";  // "GET" or "POST" (others are sent as a custom method)
    std::string url;             // absolute http(s) URL
    std::vector<std::pair<std::string, std::string>> headers;  // name, value; in this order
    std::string body;                                          // bytes, sent as they stand
    // Total time allowed for the request, from the call to the last byte of the answer.
    std::chrono::milliseconds timeout{60'000};

    // The value of the first header with this name (compared case-insensitively), or nullptr.
    const std::string* header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(),
                           [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
                return &value;
            }
        }
        return nullptr;
    }
};

}  // namespace sayloft
