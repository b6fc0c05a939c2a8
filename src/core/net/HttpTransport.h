#pragma once

#include <functional>
#include <memory>
#include <stop_token>

#include "core/net/HttpRequest.h"
#include "core/net/HttpResponse.h"

namespace sayloft {

// One HTTP session: a pool of connections that the requests performed on it reuse. The real one
// is CurlSession (libcurl); tests may drive the client with a fake.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;

    // Performs one request and blocks the calling thread until the whole answer has arrived, the
    // request failed, its time-out passed or stop was requested. Returns any HTTP answer,
    // whatever its status. Throws TransportError when there is no answer; a stop request ends
    // the request promptly with TransportError::Code::cancelled. Safe to call from several
    // threads at once; the request must stay alive until the call returns.
    virtual HttpResponse perform(const HttpRequest& request, std::stop_token stop) = 0;
};

// Makes a fresh session with its own connection pool (used for the hedged second attempt of a
// transcription). The session is closed when the returned pointer is destroyed.
using HttpTransportFactory = std::function<std::unique_ptr<HttpTransport>()>;

}  // namespace sayloft
