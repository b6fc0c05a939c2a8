// sayloft-server on a Unix socket (--unix-socket), and the client reaching the user's own
// service there while a listener of somebody else holds the loopback port.

#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "HttpTestSupport.h"
#include "LoopbackServer.h"
#include "ServerProcess.h"
#include "TestForms.h"
#include "core/net/APIClient.h"
#include "core/net/ServiceEndpoint.h"

namespace sayloft::test {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// A socket file that nothing listens on any more, as a server that died leaves it.
void leaveStaleSocket(const fs::path& path) {
    fs::create_directories(path.parent_path());
    fs::permissions(path.parent_path(), fs::perms::owner_all);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

class UnixSocketServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { upstream_ = new FakeUpstream(); }
    static void TearDownTestSuite() {
        delete upstream_;
        upstream_ = nullptr;
    }

    std::vector<std::string> serverArgs(const fs::path& socket) const {
        return {"--unix-socket", socket.string(), "--upstream", upstream_->url()};
    }

    TempDir runtime_;
    fs::path socket_ = ServiceEndpoint::userSocket(runtime_.path());
    static FakeUpstream* upstream_;
};

FakeUpstream* UnixSocketServer::upstream_ = nullptr;

TEST_F(UnixSocketServer, ListensOnlyThereInAPrivateFolderAndRemovesTheSocketWhenStopped) {
    ServerProcess server(serverArgs(socket_));
    ASSERT_TRUE(server.started()) << server.output();
    EXPECT_EQ(server.port(), 0) << "no TCP listener without --host or --port";
    EXPECT_EQ(server.unixSocket(), socket_);
    EXPECT_TRUE(fs::is_socket(socket_));
    EXPECT_EQ(modeOf(socket_), 0600u);
    EXPECT_EQ(modeOf(socket_.parent_path()), 0700u);
    EXPECT_TRUE(ServiceEndpoint::answersHealth({*Url::parse("http://127.0.0.1:8177"), socket_},
                                               std::chrono::seconds(5)));
    EXPECT_EQ(server.terminate(), 0);
    EXPECT_FALSE(fs::exists(socket_)) << server.output();
}

TEST_F(UnixSocketServer, ReplacesAStaleSocketButNeverALiveOneOrAnotherFile) {
    leaveStaleSocket(socket_);
    ServerProcess first(serverArgs(socket_));
    ASSERT_TRUE(first.started()) << first.output();

    const auto second = ServerProcess::run(serverArgs(socket_));
    EXPECT_EQ(second.status, 1);
    EXPECT_NE(second.err.find("already answers"), std::string::npos) << second.err;
    EXPECT_TRUE(ServiceEndpoint::answersHealth({*Url::parse("http://127.0.0.1:8177"), socket_},
                                               std::chrono::seconds(5)));

    const fs::path plainFile = runtime_.path() / "sayloft" / "notes.txt";
    { std::ofstream(plainFile) << "keep"; }
    const auto third = ServerProcess::run(serverArgs(plainFile));
    EXPECT_EQ(third.status, 1);
    EXPECT_NE(third.err.find("not a socket"), std::string::npos) << third.err;
    EXPECT_TRUE(fs::is_regular_file(plainFile));
}

TEST_F(UnixSocketServer, RefusesAFolderOthersMayEnter) {
    const fs::path open = runtime_.path() / "open";
    fs::create_directories(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
    const auto refused = ServerProcess::run(serverArgs(open / "server.sock"));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("others may enter"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(open / "server.sock"));
}

// Another user's listener on the configured loopback port is played by a recording server of
// this test; the user's own service runs on the socket. Nothing may reach the port.
TEST_F(UnixSocketServer, TheUsersOwnServiceGetsTheTokenAndTheAudioAndThePortNothing) {
    sayloft::testing::LoopbackServer otherUsers(
        [](const httplib::Request&, httplib::Response& res, std::size_t) {
            sayloft::testing::LoopbackServer::reply(res, 200, R"({"token":"stolen"})");
        });
    ServerProcess own(serverArgs(socket_));
    ASSERT_TRUE(own.started()) << own.output();

    const ServiceEndpoint endpoint = ServiceEndpoint::choose(otherUsers.url(), runtime_.path());
    ASSERT_EQ(endpoint.unixSocket, socket_);
    const APIClient client(endpoint);
    const std::string token = client.registerDevice();
    EXPECT_TRUE(token.starts_with("sl1.")) << token;
    const std::string wav = TestForms::wav16(TestForms::tone(1.0), 16000, 1);
    const auto result = client.transcribe(
        token, std::span(reinterpret_cast<const std::uint8_t*>(wav.data()), wav.size()), 1.0);
    EXPECT_EQ(result.text, FakeUpstream::text);
    client.ping();

    EXPECT_EQ(otherUsers.requestCount(), 0u);
}

}  // namespace
}  // namespace sayloft::test
