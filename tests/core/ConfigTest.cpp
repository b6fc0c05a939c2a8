#include <gtest/gtest.h>

#include "core/config/Config.h"
#include "core/config/Url.h"

namespace sayloft {
namespace {

TEST(Config, VersionIsEmbeddedOrDev) {
    EXPECT_EQ(Config::versionOrDev(""), "dev");
    EXPECT_EQ(Config::versionOrDev(" 1.2.3 "), " 1.2.3 ");  // used as it stands
    EXPECT_FALSE(Config::appVersion().empty());
}

TEST(Config, TheBuiltInServiceAddressParses) {
    const Url& url = Config::backendURL();
    EXPECT_TRUE(url.scheme() == "http" || url.scheme() == "https");
    EXPECT_NE(url.text().back(), '/');
}

TEST(Config, RunTimeServiceAddressOnlyOnThisComputer) {
    const Url built = *Url::parse("https://dictation.example.org");
    struct Case {
        const char* runTime;
        const char* chosen;
        bool noticed;
    };
    for (const Case& c : {
             Case{nullptr, "https://dictation.example.org", false},
             Case{"", "https://dictation.example.org", false},
             Case{"http://127.0.0.1:40123", "http://127.0.0.1:40123", false},
             Case{"http://localhost:9/", "http://localhost:9", false},
             Case{"http://[::1]:8000", "http://[::1]:8000", false},
             Case{"http://10.0.0.7:8177", "https://dictation.example.org", true},
             Case{"https://evil.example.net", "https://dictation.example.org", true},
             Case{"http://127.0.0.1.example.net", "https://dictation.example.org", true},
             Case{"127.0.0.1:8177", "https://dictation.example.org", true},
             Case{"http://127.0.0.1:8177/v1", "https://dictation.example.org", true},
         }) {
        const std::string shown = c.runTime ? c.runTime : "(unset)";
        std::string notice;
        EXPECT_EQ(Config::chooseBackendURL(built, c.runTime, &notice).text(), c.chosen) << shown;
        EXPECT_EQ(!notice.empty(), c.noticed) << shown << ": " << notice;
        if (c.noticed) {
            EXPECT_NE(notice.find(c.runTime), std::string::npos) << notice;
            EXPECT_NE(notice.find("https://dictation.example.org"), std::string::npos) << notice;
        }
    }
    EXPECT_EQ(Config::chooseBackendURL(built, "ftp://x", nullptr), built);
}

TEST(Url, AcceptsOnlyBaseUrls) {
    for (const char* good : {"http://127.0.0.1:8177", "https://dictation.example.org",
                             "https://example.org/", "http://[::1]:9000", "http://localhost"}) {
        EXPECT_TRUE(Url::parse(good).has_value()) << good;
    }
    for (const char* bad :
         {"", "example.org", "ftp://example.org", "https://example.org/v1", "https://",
          "https://example.org?x=1", "https://example.org#top", "https://user:pw@example.org",
          "http:/example.org", "https://exa mple.org", "https://example.org:99999"}) {
        EXPECT_FALSE(Url::parse(bad).has_value()) << bad;
    }
}

TEST(Url, LoopbackAndPaths) {
    struct Case {
        const char* url;
        bool loopback;
    };
    for (const Case& c :
         {Case{"http://127.0.0.1:8177", true}, Case{"http://127.3.2.1", true},
          Case{"http://localhost:1", true}, Case{"http://[::1]:9", true},
          Case{"http://128.0.0.1", false}, Case{"http://10.0.0.1", false},
          Case{"http://localhost.example.org", false}, Case{"http://[::2]", false}}) {
        EXPECT_EQ(Url::parse(c.url)->isLoopback(), c.loopback) << c.url;
    }
    const auto base = Url::parse("https://example.org/");
    EXPECT_EQ(base->text(), "https://example.org");
    EXPECT_EQ(base->appending("v1/transcribe"), "https://example.org/v1/transcribe");
    EXPECT_EQ(base->appending("/health"), "https://example.org/health");
}

}  // namespace
}  // namespace sayloft
