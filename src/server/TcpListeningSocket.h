#pragma once

#include <string>

namespace sayloft {

// A listening TCP socket for the service, bound before the HTTP library takes it over.
struct TcpListeningSocket {
    // Binds host:port (port 0: any free port) with SO_REUSEADDR and listens with this backlog.
    // The descriptor (close-on-exec) with *boundPort set, or -1 with *error.
    static int open(const std::string& host, int port, int backlog, int* boundPort,
                    std::string* error);
};

}  // namespace sayloft
