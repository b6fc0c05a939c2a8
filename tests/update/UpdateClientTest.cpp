#include <cstdio>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "LoopbackServer.h"
#include "TempHome.h"
#include "core/net/CurlSession.h"
#include "core/update/UpdateClient.h"
#include "core/update/UpdateError.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;
using testing::LoopbackServer;
using Code = UpdateError::Code;

// The public half of tests/update/release-test-key.pem, a key for these tests only.
constexpr const char* testPublicKey = "y1Tc7g4YbVsZX4VXcwHkmNXlpHvmz0650fn00A/tijA=";

std::string feedOffering(const std::string& version) {
    return R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
           R"(<item><enclosure url="https://e.org/p" length="9" sparkle:edSignature="c2ln")"
           " sparkle:version=\"" +
           version + "\"/></item></channel></rss>";
}

class UpdateClientTest : public ::testing::Test {
protected:
    // trusting: whether the transport trusts the test server's certificate.
    UpdateClient client(const std::string& feedUrl, bool trusting = true) const {
        return UpdateClient({
            .feedUrl = feedUrl,
            .runningVersion = "1.2.0",
            .publicKey = testPublicKey,
            .folder = folder,
            .transport =
                [trusting](std::size_t maxBytes) {
                    return std::make_unique<CurlSession>(CurlSession::Options{
                        .maxResponseBytes = maxBytes,
                        .caFile = trusting ? LoopbackServer::caFile() : fs::path()});
                },
        });
    }

    static Code failure(const std::function<void()>& work) {
        try {
            work();
        } catch (const UpdateError& error) {
            return error.code();
        }
        ADD_FAILURE() << "no UpdateError";
        return Code::cancelled;
    }

    bool folderIsEmpty() const { return !fs::exists(folder) || fs::is_empty(folder); }

    // What the release script prints for this package and version: its signature.
    std::string sign(const std::string& version, const std::string& bytes) const {
        const std::string command = std::string(SAYLOFT_SIGN_UPDATE) + " sign " +
                                    SAYLOFT_TEST_RELEASE_KEY + " " + version + " " +
                                    home.write("p.deb", bytes).string();
        std::unique_ptr<FILE, decltype(&pclose)> out(popen(command.c_str(), "r"), &pclose);
        char line[512] = {};
        EXPECT_NE(std::fgets(line, sizeof line, out.get()), nullptr);
        const std::string text = line;
        EXPECT_NE(text.find(" length=\"" + std::to_string(bytes.size()) + '"'), std::string::npos);
        const auto start = text.find("edSignature=\"") + 13;
        return text.substr(start, text.find('"', start) - start);
    }

    std::string url(const std::string& path) const { return server.url().appending(path); }

    test::TempHome home;
    fs::path folder = home.path() / "cache" / "Sayloft" / "updates";
    // An HTTPS server of fixed bodies by path; "/drop" abandons its answer after a few bytes.
    std::map<std::string, std::string> bodies;
    LoopbackServer server{[this](const httplib::Request& req, httplib::Response& res, std::size_t) {
                              if (req.path == "/drop") {
                                  LoopbackServer::dropMidAnswer(res);
                              } else if (bodies.contains(req.path)) {
                                  res.set_content(bodies.at(req.path), "application/octet-stream");
                              } else {
                                  res.status = 404;
                              }
                          },
                          true};
    const std::string package = std::string(100'000, 'p') + "end";
};

TEST_F(UpdateClientTest, FeedsOfferOnlyANewerVersionOverHttps) {
    bodies = {{"/newer", feedOffering("1.10")},
              {"/same", feedOffering("1.2")},
              {"/html", "<html>Not here</html>"}};
    const auto found = client(url("/newer")).check({});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->version, "1.10");
    EXPECT_FALSE(client(url("/same")).check({}));
    // A server the system does not trust is never asked.
    EXPECT_EQ(failure([&] { client(url("/newer"), false).check({}); }), Code::unreachable);

    const struct {
        std::string url;
        Code code;
    } failures[] = {
        {url("/html"), Code::badFeed},
        {url("/missing"), Code::badAnswer},
        {"https://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/feed", Code::unreachable},
        {"http://127.0.0.1:1/feed", Code::insecureUrl},
    };
    for (const auto& c : failures) {
        EXPECT_EQ(failure([&] { client(c.url).check({}); }), c.code) << c.url;
    }
}

TEST_F(UpdateClientTest, KeepsOnlyAWholePackageSignedForItsVersion) {
    std::string tampered = package;
    tampered[500] ^= 1;
    const std::string good = sign("1.3", package);
    const std::uint64_t size = package.size();
    bodies = {{"/good", package}, {"/short", package.substr(0, package.size() - 10)}};
    const struct {
        const char* name;
        std::string path;
        std::string version;
        std::uint64_t length;
        std::string signature;
        Code code;
    } failures[] = {
        {"bad signature", "/good", "1.3", size, sign("1.3", tampered), Code::badSignature},
        {"signed as another version", "/good", "1.3", size, sign("1.1", package),
         Code::badSignature},
        {"truncated", "/short", "1.3", size, good, Code::wrongLength},
        {"above the cap", "/good", "1.3", UpdateClient::maxPackageBytes + 1, good,
         Code::wrongLength},
        {"interrupted", "/drop", "1.3", 1000, good, Code::unreachable},
        {"not newer", "/good", "1.2", size, sign("1.2", package), Code::badFeed},
        {"plain http", "http://127.0.0.1:1/p", "1.3", size, good, Code::insecureUrl},
    };
    for (const auto& c : failures) {
        const AppcastItem item{.version = c.version,
                               .packageUrl = c.path.starts_with("/") ? url(c.path) : c.path,
                               .length = c.length,
                               .signature = c.signature};
        EXPECT_EQ(failure([&] { client("").download(item, {}); }), c.code) << c.name;
        EXPECT_TRUE(folderIsEmpty()) << c.name;
    }

    fs::create_directories(folder);
    fs::permissions(folder, fs::perms(0755));
    const auto file = client("").download(
        {.version = "1.3", .packageUrl = url("/good"), .length = package.size(), .signature = good},
        {});
    EXPECT_EQ(file.filename().string().substr(0, 13), "sayloft_1.3_a");
    EXPECT_EQ(file.parent_path(), folder);
    EXPECT_EQ(test::readAll(file), package);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0700));
}

}  // namespace
}  // namespace sayloft
