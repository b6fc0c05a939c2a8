#include "server/ConnectionReset.h"

#include <sys/socket.h>

#include "server/OpenConnections.h"

namespace sayloft {

bool ConnectionReset::reset(int localPort, int remotePort) {
    bool done = false;
    OpenConnections::forEach([&](int fd, int local, int remote) {
        if (local != localPort || remote != remotePort) {
            return true;
        }
        // Dissolving the association of a connected TCP socket makes Linux send a reset.
        sockaddr unspecified{};
        unspecified.sa_family = AF_UNSPEC;
        done = ::connect(fd, &unspecified, sizeof unspecified) == 0;
        return false;
    });
    return done;
}

}  // namespace sayloft
