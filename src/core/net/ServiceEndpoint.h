#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "core/config/Url.h"

namespace sayloft {

// Where the service client sends its requests: the service's address, and for the user's own
// local service the Unix socket that reaches it. On a computer with several users, any of them
// may listen on the loopback port first; only the socket in the user's runtime folder (0700) is
// certainly this user's, so audio and the token go there rather than to the port.
struct ServiceEndpoint {
    Url url;  // names the service: scheme, Host header, what messages show
    // When not empty, every connection goes to this socket instead of url's host and port.
    std::filesystem::path unixSocket{};

    bool viaUnixSocket() const { return !unixSocket.empty(); }
    // "http://127.0.0.1:8177", or "http://127.0.0.1:8177
    // (unix:/run/user/1000/sayloft/server.sock)".
    std::string describe() const;

    // <runtimeDir>/sayloft/server.sock, where the user's own sayloft-server listens (the
    // systemd user unit's %t/sayloft/server.sock); empty when runtimeDir is empty.
    static std::filesystem::path userSocket(const std::filesystem::path& runtimeDir);

    struct Probes {
        // Whether the service answers GET /health with 200 over the socket.
        std::function<bool(const std::filesystem::path& socket, const Url& url)> socketAnswers;
        // Whether something listens on url's loopback port and all of it is this user's.
        std::function<bool(const Url& url)> portIsThisUsers;
    };

    // The rule, applied once at start by Sayloft and by sayloft-cli:
    //  - a service that is not plain HTTP on a loopback address, or no socket path (no
    //    $XDG_RUNTIME_DIR): url, over the network as always;
    //  - the user's socket answers: the socket;
    //  - a listener of this user holds the port (a service started by hand or by a test): url;
    //  - otherwise the socket, even though nothing answers there yet: the user's own service is
    //    started there (LocalService), and a port held by another user is never sent anything.
    static ServiceEndpoint choose(const Url& url, const std::filesystem::path& socket,
                                  const Probes& probes);

    // choose() with the real probes: a health request over the socket (2 s at most) and the
    // owners of the port's listening sockets in /proc/net/tcp and /proc/net/tcp6.
    static ServiceEndpoint choose(const Url& url, const std::filesystem::path& runtimeDir);
    static Probes realProbes();

    // Whether the service answers GET /health with 200 at this endpoint within the time-out.
    static bool answersHealth(const ServiceEndpoint& endpoint, std::chrono::milliseconds timeout);
};

}  // namespace sayloft
