#include <cstdio>
#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "LoopbackServer.h"
#include "TempHome.h"
#include "core/net/CurlSession.h"
#include "core/update/Appcast.h"
#include "core/update/UpdateClient.h"
#include "core/update/UpdateError.h"
#include "core/update/UpdateVersion.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;
using testing::LoopbackServer;
using Code = UpdateError::Code;

// The public half of tests/update/release-test-key.pem, a key for these tests only.
constexpr const char* testPublicKey = "y1Tc7g4YbVsZX4VXcwHkmNXlpHvmz0650fn00A/tijA=";

std::string feed(const std::string& items) {
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Sayloft</title>)" +
           items + "</channel></rss>";
}

std::string item(const std::string& version, const std::string& extra = "") {
    return "<item><title>" + version + "</title>" + extra +
           R"(<enclosure url="https://example.org/sayloft_)" + version +
           R"(.deb" length="1234" type="application/vnd.debian.binary-package" sparkle:version=")" +
           version + R"(" sparkle:edSignature="c2ln"/></item>)";
}

TEST(Appcast, ReadsTheEnclosureAndTheSparkleFields) {
    const auto items = Appcast::parse(
        feed(item("1.2.0",
                  "<sparkle:releaseNotesLink> https://example.org/notes "
                  "</sparkle:releaseNotesLink><link>https://example.org/ignored</link>") +
             R"(<item><link>https://example.org/n2</link><sparkle:version>1.3</sparkle:version>
           <sparkle:shortVersionString>1.3 final</sparkle:shortVersionString>
           <enclosure url="https://e.org/p" length="7" sparkle:edSignature="eA=="/></item>)"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].version, "1.2.0");
    EXPECT_EQ(items[0].displayVersion, "1.2.0");
    EXPECT_EQ(items[0].packageUrl, "https://example.org/sayloft_1.2.0.deb");
    EXPECT_EQ(items[0].length, 1234u);
    EXPECT_EQ(items[0].signature, "c2ln");
    EXPECT_EQ(items[0].notesUrl, "https://example.org/notes");
    EXPECT_EQ(items[1].version, "1.3");
    EXPECT_EQ(items[1].displayVersion, "1.3 final");
    EXPECT_EQ(items[1].notesUrl, "https://example.org/n2");
}

TEST(Appcast, SkipsItemsThatCannotBeInstalled) {
    const auto items = Appcast::parse(
        feed("<item><enclosure url='https://e.org/p' length='1' "
             "sparkle:version='1.0'/></item>"  // unsigned
             "<item><enclosure url='https://e.org/p' length='x' sparkle:version='1.0' "
             "sparkle:edSignature='s'/></item>"
             "<item><enclosure url='https://e.org/p' length='1' sparkle:version='1.0/../x' "
             "sparkle:edSignature='s'/></item>"
             "<item><enclosure length='1' sparkle:version='1.0' "
             "sparkle:edSignature='s'/></item>" +
             item("2.0")));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].version, "2.0");
}

TEST(Appcast, RefusesWhatIsNotAFeed) {
    for (const std::string& text : {std::string("not xml"), feed(item("1.0")).substr(0, 200),
                                    std::string("<?xml version='1.0'?><!DOCTYPE rss [<!ENTITY a "
                                                "'aaaa'>]><rss><channel>&a;</channel></rss>")}) {
        try {
            Appcast::parse(text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const UpdateError& error) {
            EXPECT_EQ(error.code(), UpdateError::Code::badFeed) << text;
        }
    }
}

TEST(Appcast, OffersOnlyTheNewestVersionAboveTheRunningOne) {
    const auto items = Appcast::parse(feed(item("1.9") + item("1.10") + item("1.2")));
    EXPECT_EQ(Appcast::newest(items, "1.2")->version, "1.10");
    EXPECT_EQ(Appcast::newest(items, "1.9.5")->version, "1.10");
    EXPECT_FALSE(Appcast::newest(items, "1.10"));
}

TEST(UpdateVersion, ComparesByNumericComponent) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"1.2", "1.2.0", 0}, {"1.10", "1.9", 1},  {"2", "1.99.99", 1}, {"1.2.3.4", "1.2.3", 1},
        {"010", "9", 1},     {"1.0", "bogus", 1}, {"1..0", "1.0", -1}, {"3.1", "3.01", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UpdateVersion::compare(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(UpdateVersion::compare(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(UpdateVersion, AcceptsOnlyDigitsAndDots) {
    for (const char* valid : {"1", "1.2.3.4.5.6.7.8", "123456789"}) {
        EXPECT_TRUE(UpdateVersion::isValid(valid)) << valid;
    }
    for (const char* invalid :
         {"", "1.", ".1", "1..2", "1.2-beta", "1.2.3.4.5.6.7.8.9", "1234567890", "../1"}) {
        EXPECT_FALSE(UpdateVersion::isValid(invalid)) << invalid;
    }
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
    bodies = {{"/newer", feed(item("1.10"))},
              {"/same", feed(item("1.2"))},
              {"/html", "<html>Not here</html>"}};
    const auto found = client(url("/newer")).check({});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->version, "1.10");
    EXPECT_FALSE(client(url("/same")).check({}));
    // A server the system does not trust is never asked.
    EXPECT_EQ(failure([&] { client(url("/newer"), false).check({}); }), Code::unreachable);

    const std::pair<std::string, Code> failures[] = {
        {url("/html"), Code::badFeed},
        {url("/missing"), Code::badAnswer},
        {"https://127.0.0.1:" + std::to_string(testing::unusedPort()) + "/feed", Code::unreachable},
        {"http://127.0.0.1:1/feed", Code::insecureUrl},
    };
    for (const auto& [feedUrl, code] : failures) {
        EXPECT_EQ(failure([&] { client(feedUrl).check({}); }), code) << feedUrl;
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
