#include <gtest/gtest.h>

#include "core/net/ListeningSockets.h"
#include "core/net/ServiceEndpoint.h"

namespace sayloft {
namespace {

TEST(ServiceEndpoint, TheUsersOwnServiceIsReachedOnItsSocketAndAPortOfAnotherUserNever) {
    const std::filesystem::path socket = "/run/user/1000/sayloft/server.sock";
    struct Case {
        const char* url;
        const char* socket;
        bool socketAnswers;
        bool portIsThisUsers;
        bool viaSocket;
    };
    const Case cases[] = {
        {"https://dictation.example.org", socket.c_str(), true, true, false},
        {"https://127.0.0.1:8177", socket.c_str(), true, true, false},
        {"http://127.0.0.1:8177", "", true, false, false},  // no $XDG_RUNTIME_DIR
        {"http://127.0.0.1:8177", socket.c_str(), true, true, true},
        {"http://localhost:8177", socket.c_str(), true, false, true},
        {"http://127.0.0.1:8177", socket.c_str(), false, true, false},  // started by hand
        {"http://127.0.0.1:8177", socket.c_str(), false, false, true},  // another user's, or none
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        const ServiceEndpoint::Probes probes{
            [&c](const std::filesystem::path&, const Url&) { return c.socketAnswers; },
            [&c](const Url&) { return c.portIsThisUsers; }};
        const auto chosen = ServiceEndpoint::choose(*Url::parse(c.url), c.socket, probes);
        EXPECT_EQ(chosen.url, *Url::parse(c.url));
        EXPECT_EQ(chosen.viaUnixSocket(), c.viaSocket);
        if (c.viaSocket) {
            EXPECT_EQ(chosen.unixSocket, socket);
        }
    }
    EXPECT_EQ(ServiceEndpoint::userSocket("/run/user/1000"), socket);
    EXPECT_EQ(ServiceEndpoint::userSocket(""), std::filesystem::path());
}

TEST(ListeningSockets, FindsTheOwnersOfTheSocketsListeningOnAPort) {
    // 8177 = 0x1FF1; state 0A listens, 01 is an established connection.
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
        "timeout inode\n"
        "   0: 0100007F:1FF1 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000 "
        "       0 1 1 0000000000000000 100 0 0 10 0\n"
        "   1: 00000000:1FF1 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1001 "
        "       0 2 1 0000000000000000 100 0 0 10 0\n"
        "   2: 0100007F:1FF1 0100007F:A000 01 00000000:00000000 00:00000000 00000000  1002 "
        "       0 3 1 0000000000000000 100 0 0 10 0\n"
        "   3: 0100007F:1FF2 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1003 "
        "       0 4 1 0000000000000000 100 0 0 10 0\n";
    EXPECT_EQ(ListeningSockets::ownersIn(table, 8177), (std::vector<unsigned>{1000, 1001}));
    EXPECT_EQ(ListeningSockets::ownersIn(table, 8178), (std::vector<unsigned>{1003}));
    EXPECT_TRUE(ListeningSockets::ownersIn(table, 80).empty());
}

}  // namespace
}  // namespace sayloft
