#pragma once

namespace sayloft {

// Resets (TCP RST) a connected socket, so that the peer sees "connection reset" instead of an
// answer. The descriptor stays open for its owner (the HTTP library), whose next read or write
// then fails. Used by fault injection only.
struct ConnectionReset {
    static bool reset(int fd);
};

}  // namespace sayloft
