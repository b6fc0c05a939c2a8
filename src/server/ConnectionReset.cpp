#include "server/ConnectionReset.h"

#include <sys/socket.h>

namespace sayloft {

bool ConnectionReset::reset(int fd) {
    // Dissolving the association of a connected TCP socket makes Linux send a reset.
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    return ::connect(fd, &unspecified, sizeof unspecified) == 0;
}

}  // namespace sayloft
