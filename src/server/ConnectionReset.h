#pragma once

namespace sayloft {

// Resets (TCP RST) the connection of this process whose local and remote ports are given, so
// that the peer sees "connection reset" instead of an answer. The socket stays open for its
// owner (the HTTP library), whose next read or write then fails. Used by fault injection only.
struct ConnectionReset {
    static bool reset(int localPort, int remotePort);
};

}  // namespace sayloft
