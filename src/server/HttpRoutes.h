#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/HttpAnswer.h"
#include "server/HttpBodySink.h"
#include "server/HttpRequestHead.h"

namespace sayloft {

// The service's side of the HTTP layer (HttpDaemon): called on a connection's own thread, for
// one request at a time per connection, from several connections at once.
class HttpRoutes {
public:
    // The first stage, on the headers alone.
    struct Screening {
        // An answer decided without the body (a refusal, or an answer that needs no body): the
        // layer sends it at once when no body comes or the body cannot be skipped cheaply
        // (chunked), closing the connection, else after reading and discarding the body.
        std::optional<HttpAnswer> answer{};
        // Otherwise the body is received and serve() is called with it and with this key of
        // whose request it is (the token's device).
        std::string owner{};
        // When set, the body goes to this sink as it arrives (serve() is not called); the
        // layer's body limit still applies.
        std::shared_ptr<HttpBodySink> sink{};
        // When not zero: the longest the request may take from its headers to the end of its
        // body; past it the connection is cut.
        std::chrono::milliseconds deadline{};
    };

    virtual ~HttpRoutes() = default;
    virtual Screening screen(const HttpRequestHead& head) = 0;
    // body: complete, at most the layer's body limit.
    virtual HttpAnswer serve(const HttpRequestHead& head, std::string_view body,
                             const std::string& owner) = 0;
};

}  // namespace sayloft
