#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "server/AccessLog.h"
#include "server/ConnectionWatchdog.h"
#include "server/HttpRoutes.h"
#include "server/TrustedProxies.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace sayloft {

class ProxyAcceptor;

// The service's HTTP/1.1 server on one listening socket (TCP, with or without TLS, or the Unix
// socket), built on libmicrohttpd with one thread per connection. It bounds what one client
// can make the service hold before any route sees the request:
// - request line and headers: within the per-connection memory (answered 431 beyond it);
// - connections: at most maxConnections, perAddressConnections from one address (the library
//   closes an accepted connection over either limit at once);
// - a body: at most maxBodyBytes in any transfer coding (413, and the connection is closed
//   without reading the rest); a Content-Encoding other than identity is refused 415;
// - time: the watchdog's deadlines (ConnectionWatchdog).
// An answer decided on the headers alone is sent before the body is read: at once when the body
// is chunked (then the connection closes), after reading and discarding a declared body within
// the limit (the connection stays usable). A connection closed with a body still arriving
// first shuts its sending side and reads for a moment, so that the client reads the answer
// instead of a reset. Pipelined requests are answered in order. A route may take a body in
// pieces as it arrives (HttpBodySink) and give it a deadline of its own. The access log's
// status is 408 for a request the watchdog cut and 499 for a body in pieces that the client
// abandoned (closed the connection before its end).
class HttpDaemon {
public:
    struct Settings {
        std::size_t maxConnections = 512;
        std::size_t perAddressConnections = 32;
        std::size_t connectionMemoryBytes = 32 * 1024;
        std::uint64_t maxBodyBytes = 4 * 1024 * 1024;
        // The library's own time-out for a connection on which nothing moves: a backstop behind
        // the watchdog, for a client that does not read its answer.
        unsigned connectionTimeoutSeconds = 90;
        // PEM text of the certificate chain and private key: HTTPS when both are given.
        std::string certificatePem{};
        std::string keyPem{};
        // The listening socket is a Unix socket: its peers have no address (remoteAddress "").
        bool unixSocket = false;
        // Peers that put a PROXY protocol header before each connection (ProxyAcceptor); its
        // client address then stands for the peer's in every limit. Empty: the library
        // accepts connections itself and no header is accepted.
        TrustedProxies trustedProxies{};
    };

    HttpDaemon(const Settings& settings, HttpRoutes& routes, ConnectionWatchdog& watchdog,
               AccessLog& log);
    ~HttpDaemon();
    HttpDaemon(const HttpDaemon&) = delete;
    HttpDaemon& operator=(const HttpDaemon&) = delete;

    // Serves the listening socket, which it takes over (closed by quiesce() or stop()); false
    // with *error when the library refuses (for TLS: a certificate or key it cannot load).
    bool start(int listeningFd, std::string* error);
    // Stops accepting and closes the listening socket; connections open go on.
    void quiesce();
    // From now on every answer closes its connection.
    void stopping() { stopping_ = true; }
    // Requests whose headers have arrived and whose answer has not been sent yet.
    std::size_t inFlight() const { return inFlight_; }
    // Closes every connection and waits for their threads (a request in a route is waited for).
    void stop();

    // The library's callbacks (C linkage has no access to private members).
    struct Callbacks;

private:
    friend struct Callbacks;
    struct Exchange;

    const Settings settings_;
    HttpRoutes& routes_;
    ConnectionWatchdog& watchdog_;
    AccessLog& log_;
    MHD_Daemon* daemon_ = nullptr;
    int listeningFd_ = -1;
    std::unique_ptr<ProxyAcceptor>
        acceptor_;  // with trusted proxies: accepts in the library's place
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> inFlight_{0};
};

}  // namespace sayloft
