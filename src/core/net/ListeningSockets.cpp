#include "core/net/ListeningSockets.h"

#include <charconv>
#include <sstream>
#include <string>

#include "core/storage/FileIo.h"

namespace sayloft {
namespace {

constexpr std::string_view listenState = "0A";

}  // namespace

std::vector<unsigned> ListeningSockets::ownersIn(std::string_view table, int port) {
    // "sl local_address rem_address st tx_queue:rx_queue tr:tm->when retrnsmt uid ...", the
    // addresses as HEXADDR:HEXPORT; the first line is the heading.
    std::vector<unsigned> owners;
    std::istringstream lines{std::string(table)};
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >>
              uid) ||
            state != listenState) {
            continue;
        }
        const auto colon = local.rfind(':');
        unsigned localPort = 0;
        unsigned owner = 0;
        if (colon == std::string::npos ||
            std::from_chars(local.data() + colon + 1, local.data() + local.size(), localPort, 16)
                    .ec != std::errc() ||
            std::from_chars(uid.data(), uid.data() + uid.size(), owner).ec != std::errc()) {
            continue;
        }
        if (static_cast<int>(localPort) == port) {
            owners.push_back(owner);
        }
    }
    return owners;
}

bool ListeningSockets::onlyOwnedBy(int port, unsigned uid) {
    std::vector<unsigned> owners;
    for (const char* path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const auto table = FileIo::read(path);
        if (!table) {
            if (std::string_view(path).ends_with("6")) {
                continue;  // a kernel without IPv6 has no such table
            }
            return false;
        }
        const auto found = ownersIn(*table, port);
        owners.insert(owners.end(), found.begin(), found.end());
    }
    if (owners.empty()) {
        return false;
    }
    for (unsigned owner : owners) {
        if (owner != uid) {
            return false;
        }
    }
    return true;
}

}  // namespace sayloft
