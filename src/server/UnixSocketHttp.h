#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace httplib {
class Server;
}  // namespace httplib

namespace sayloft {

// An HTTP server listening on a Unix domain socket. The HTTP library of Debian 12 (cpp-httplib
// 0.11) listens on TCP only, but its accept loop serves whatever listening socket the server
// holds; this hands it one bound to a path. The server is configured (routes, limits) and run
// (listen_after_bind, stop) like any other; connections carry no client address or port.
//
// Only the user who runs the server may connect: the socket's folder is created 0700 when
// missing and refused when others may enter it, and the socket file is made 0600.
struct UnixSocketHttp {
    // A server bound to path, or nullptr with *error. A file already at path is replaced only
    // when it is a socket that nothing answers on (left behind by a server that died); a socket
    // that answers means another server runs there, and anything else is not touched.
    static std::unique_ptr<httplib::Server> bind(const std::filesystem::path& path,
                                                 std::string* error);

    // Removes the socket file at path if it is still the one bound by this process (a newer
    // server may have replaced it). Called after the server stopped.
    static void unlink(const std::filesystem::path& path, const httplib::Server& server);
};

}  // namespace sayloft
