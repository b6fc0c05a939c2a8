#pragma once

#include <optional>
#include <string_view>

#include "server/HttpAnswer.h"

namespace sayloft {

// Takes a request's body in pieces as they arrive, for a route that works on it while it comes
// (HttpRoutes::Screening::sink). Called on the connection's thread only. When the request ends
// any other way than finish() (the client closed or reset the connection, the watchdog cut it,
// the service stopped, write() refused), the sink is released without a call: its destructor
// discards whatever it holds.
class HttpBodySink {
public:
    virtual ~HttpBodySink() = default;
    // The body's next bytes (a piece of any size). An answer ends the request: it is sent at
    // once and the connection closed.
    virtual std::optional<HttpAnswer> write(std::string_view piece) = 0;
    // The body is complete: the answer.
    virtual HttpAnswer finish() = 0;
};

}  // namespace sayloft
