#pragma once

#include <functional>

namespace sayloft {

// The connected TCP sockets of this process, found through /proc/self/fd.
struct OpenConnections {
    // Calls visit(fd, localPort, remotePort) for each connected IPv4 or IPv6 socket until it
    // returns false. The descriptor stays owned by whoever opened it.
    static void forEach(const std::function<bool(int fd, int localPort, int remotePort)>& visit);
};

}  // namespace sayloft
