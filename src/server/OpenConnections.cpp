#include "server/OpenConnections.h"

#include <filesystem>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

namespace sayloft {
namespace {

int portOf(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) {
        return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    }
    return -1;
}

}  // namespace

void OpenConnections::forEach(
    const std::function<bool(int fd, int localPort, int remotePort)>& visit) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        int fd = -1;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        sockaddr_storage local{}, remote{};
        socklen_t localLength = sizeof local, remoteLength = sizeof remote;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&remote), &remoteLength) != 0) {
            continue;
        }
        const int localPort = portOf(local);
        const int remotePort = portOf(remote);
        if (localPort < 0 || remotePort < 0) {
            continue;
        }
        if (!visit(fd, localPort, remotePort)) {
            return;
        }
    }
}

}  // namespace sayloft
