#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sayloft::bench {

// One HTTP/1.1 response as read off a raw socket: status, headers (names in lower case) and body.
struct HttpAnswer {
    int status = 0;
    std::map<std::string, std::string> headers{};
    std::string body{};

    // The header's value, or "".
    std::string header(const std::string& lowerCaseName) const;

    // The first whole response at the start of `bytes` (body framed by Content-Length or chunked
    // encoding; without either it is taken as empty, as the server always frames its bodies)
    // and how many bytes it took; nullopt while it is incomplete or when `bytes` does not start
    // with a status line.
    struct Parsed;
    static std::optional<Parsed> parse(std::string_view bytes);
};

struct HttpAnswer::Parsed {
    HttpAnswer answer{};
    std::size_t consumed = 0;
};

}  // namespace sayloft::bench
