#include <cstdio>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include "LoopbackServer.h"
#include "TempHome.h"
#include "TlsTestServer.h"
#include "core/net/CurlSession.h"
#include "core/update/UpdateClient.h"
#include "core/update/UpdateError.h"
#include "core/update/UpdateSignature.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;
using testing::TlsTestServer;
using Code = UpdateError::Code;

// The public half of tests/update/release-test-key.pem, a key for these tests only.
constexpr const char* testPublicKey = "y1Tc7g4YbVsZX4VXcwHkmNXlpHvmz0650fn00A/tijA=";

std::string sign(const std::string& version, const std::string& package) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(SAYLOFT_TEST_RELEASE_KEY, "r"),
                                                       &std::fclose);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr), &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    EXPECT_EQ(EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()), 1);
    const std::string message = UpdateSignature::message(version, package);
    unsigned char signature[64];
    std::size_t length = sizeof signature;
    EXPECT_EQ(
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()),
        1);
    unsigned char encoded[89] = {};
    EVP_EncodeBlock(encoded, signature, static_cast<int>(length));
    return reinterpret_cast<const char*>(encoded);
}

// Serves fixed bodies by path; "/drop" abandons its answer after a few bytes.
struct Site {
    std::map<std::string, std::string> bodies;
    TlsTestServer server{[this](const httplib::Request& req, httplib::Response& res) {
        if (req.path == "/drop") {
            testing::LoopbackServer::dropMidAnswer(res);
        } else if (const auto found = bodies.find(req.path); found != bodies.end()) {
            res.set_content(found->second, "application/octet-stream");
        } else {
            res.status = 404;
        }
    }};
};

std::string feedWith(const AppcastItem& item) {
    return R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>)"
           "<item><enclosure url=\"" +
           item.packageUrl + "\" length=\"" + std::to_string(item.length) +
           "\" sparkle:version=\"" + item.version + "\" sparkle:edSignature=\"" + item.signature +
           "\"/></item></channel></rss>";
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
                        .caFile = trusting ? TlsTestServer::caFile() : fs::path()});
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

    test::TempHome home;
    fs::path folder = home.path() / "cache" / "Sayloft" / "updates";
    Site site;
    const std::string package = std::string(100'000, 'p') + "end";
};

TEST_F(UpdateClientTest, FeedsOfferOnlyANewerVersionOverHttps) {
    const AppcastItem newer{
        .version = "1.10", .packageUrl = "https://e.org/p", .length = 9, .signature = "c2ln"};
    AppcastItem same = newer;
    same.version = "1.2";
    site.bodies = {
        {"/newer", feedWith(newer)}, {"/same", feedWith(same)}, {"/html", "<html>Not here</html>"}};
    const auto found = client(site.server.url("/newer")).check({});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->version, "1.10");
    EXPECT_FALSE(client(site.server.url("/same")).check({}));
    // A server the system does not trust is never asked.
    EXPECT_EQ(failure([&] { client(site.server.url("/newer"), false).check({}); }),
              Code::unreachable);

    const struct {
        std::string url;
        Code code;
    } failures[] = {
        {site.server.url("/html"), Code::badFeed},
        {site.server.url("/missing"), Code::badAnswer},
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
    site.bodies = {{"/good", package}, {"/short", package.substr(0, package.size() - 10)}};
    const struct {
        const char* name;
        std::string path;
        std::string version;
        std::uint64_t length;
        std::string signature;
        Code code;
    } failures[] = {
        {"bad signature", "/good", "1.3", package.size(), sign("1.3", tampered),
         Code::badSignature},
        {"signed as another version", "/good", "1.3", package.size(), sign("1.1", package),
         Code::badSignature},
        {"truncated", "/short", "1.3", package.size(), sign("1.3", package), Code::wrongLength},
        {"above the cap", "/good", "1.3", UpdateClient::maxPackageBytes + 1, sign("1.3", package),
         Code::wrongLength},
        {"interrupted", "/drop", "1.3", 1000, sign("1.3", package), Code::unreachable},
        {"not newer", "/good", "1.2", package.size(), sign("1.2", package), Code::badFeed},
        {"plain http", "http://127.0.0.1:1/p", "1.3", package.size(), sign("1.3", package),
         Code::insecureUrl},
    };
    for (const auto& c : failures) {
        const AppcastItem item{
            .version = c.version,
            .packageUrl = c.path.starts_with("/") ? site.server.url(c.path) : c.path,
            .length = c.length,
            .signature = c.signature};
        EXPECT_EQ(failure([&] { client("").download(item, {}); }), c.code) << c.name;
        EXPECT_TRUE(folderIsEmpty()) << c.name;
    }

    fs::create_directories(folder);
    fs::permissions(folder, fs::perms(0755));
    const auto file = client("").download({.version = "1.3",
                                           .packageUrl = site.server.url("/good"),
                                           .length = package.size(),
                                           .signature = sign("1.3", package)},
                                          {});
    EXPECT_EQ(file.filename().string().substr(0, 13), "sayloft_1.3_a");
    EXPECT_EQ(file.parent_path(), folder);
    EXPECT_EQ(test::readAll(file), package);
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0700));
}

TEST(UpdateSignature, TheReleaseScriptSignsWhatTheClientVerifies) {
    test::TempHome home;
    const auto deb = home.write("p.deb", std::string("\0package\0", 9));
    const std::string command = std::string(SAYLOFT_SIGN_UPDATE) + " sign " +
                                SAYLOFT_TEST_RELEASE_KEY + " 2.0.1 " + deb.string();
    std::unique_ptr<FILE, decltype(&pclose)> out(popen(command.c_str(), "r"), &pclose);
    char line[512] = {};
    ASSERT_NE(std::fgets(line, sizeof line, out.get()), nullptr);
    const std::string text = line;
    const auto start = text.find("edSignature=\"") + 13;
    const std::string signature = text.substr(start, text.find('"', start) - start);
    EXPECT_NE(text.find("length=\"9\""), std::string::npos) << text;
    EXPECT_TRUE(UpdateSignature::verify(testPublicKey, "2.0.1", test::readAll(deb), signature));
    EXPECT_FALSE(UpdateSignature::verify(testPublicKey, "2.0.2", test::readAll(deb), signature));
}

}  // namespace
}  // namespace sayloft
