#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>

#include "core/config/Config.h"
#include "core/net/HttpTransport.h"

namespace sayloft {

// An HTTP session over libcurl's multi interface: one connection pool that every request
// performed on the session reuses, driven by one worker thread that the session owns. Nothing is
// kept on disk (no cookies, cache, HSTS or alt-svc files); TLS peer and host verification are
// always on; only http and https are spoken; redirects are not followed.
//
// Each request ends by the first of: its answer, its own total time-out (HttpRequest::timeout),
// the session's idle time-out (no data moving for that long), or a stop request, which the
// worker sees at once (curl_multi_wakeup) rather than on libcurl's once-a-second progress tick.
// Destroying the session cancels what is still running, joins the worker and closes every
// connection: no thread, socket or handle outlives it.
//
// A request with a body source (HttpRequest::bodySource) is sent over HTTP/1.1, chunked, as its
// writer produces it: the upload pauses while the pipe is empty and the writer's next write or
// close resumes it at once. A stop request abandons it before the final chunk, closing its
// connection. The answer may come at any time and is read whether or not the upload is paused.
class CurlSession final : public HttpTransport {
public:
    struct Options {
        // No byte moving in either direction for this long ends a request (checked at least
        // once a second); also the limit for opening a connection. Config::requestTimeout.
        // Time spent with a streamed body paused on an empty pipe does not count: the request
        // then waits for its writer, not for the network.
        std::chrono::seconds idleTimeout = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::duration<double>(Config::requestTimeout));
        // Answers larger than this fail with TransportError::Code::responseTooLarge.
        std::size_t maxResponseBytes = 16 * 1024 * 1024;
        // When not empty, every connection goes to this Unix domain socket instead of the
        // URL's host and port; the URL still names the service (the Host header, the scheme).
        std::filesystem::path unixSocket{};
        // For tests only: when not empty, the certificate authorities trusted instead of the
        // system's (a PEM file), so that a test can serve HTTPS with its own certificate.
        // Verification stays on either way. The application never sets it.
        std::filesystem::path caFile{};
    };

    CurlSession();
    explicit CurlSession(Options options);
    ~CurlSession() override;
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    HttpResponse perform(const HttpRequest& request, std::stop_token stop) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sayloft
