#pragma once

#include <string_view>
#include <vector>

namespace sayloft {

// Who listens on a TCP port of this computer, from the kernel's socket tables (/proc/net/tcp
// and /proc/net/tcp6), which name the owning user of each socket.
struct ListeningSockets {
    // The owners (uids) of the sockets in LISTEN state on port, on any address, in one table's
    // text; one entry per socket.
    static std::vector<unsigned> ownersIn(std::string_view table, int port);

    // True when at least one socket listens on port and every one of them belongs to uid.
    // False when the tables cannot be read.
    static bool onlyOwnedBy(int port, unsigned uid);
};

}  // namespace sayloft
