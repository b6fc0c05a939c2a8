#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include <sys/types.h>

namespace sayloft {

// The listening socket of the service's plain-HTTP Unix domain socket listener, which the HTTP
// layer then serves like the TCP one (connections carry no client address).
//
// Only the user who runs the server may connect: the socket's folder is created 0700 when
// missing and refused when others may enter it, and the socket file is made 0600.
struct UnixSocketHttp {
    struct Listening {
        int fd = -1;
        ino_t inode = 0;  // of the socket file, to remove only our own
    };

    // A socket bound to path and listening with this backlog, or nullopt with *error. A file
    // already at path is replaced only when it is a socket that nothing answers on (left behind
    // by a server that died); a socket that answers means another server runs there, and
    // anything else is not touched.
    static std::optional<Listening> bind(const std::filesystem::path& path, int backlog,
                                         std::string* error);

    // Removes the socket file at path if it is still the one bound (inode): a newer server may
    // have replaced it. Called after the server stopped.
    static void unlink(const std::filesystem::path& path, ino_t inode);
};

}  // namespace sayloft
