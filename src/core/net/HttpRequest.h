#pragma once

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sayloft {

class RequestBodyPipe;

// One HTTP request as the service client builds it. The transport sends exactly these headers
// (plus the Host and Content-Length lines HTTP needs) and exactly these body bytes, or, when it
// has a body source, the bytes of that source as they are written, chunked (HTTP/1.1).
struct HttpRequest {
    std::string method = "GET";  // "GET" or "POST" (others are sent as a custom method)
    std::string url;             // absolute http(s) URL
    std::vector<std::pair<std::string, std::string>> headers;  // name, value; in this order
    std::string body;                                          // bytes, sent as they stand
    // When set, the body is streamed from this source instead (body is then ignored); the
    // request's total time-out should cover the time its writer takes.
    std::shared_ptr<RequestBodyPipe> bodySource{};
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
