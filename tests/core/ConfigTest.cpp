#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/config/Config.h"
#include "core/config/Url.h"
#include "core/l10n/L10n.h"

namespace sayloft {
namespace {

TEST(Config, BuiltInValues) {
    EXPECT_EQ(Config::versionOrDev(""), "dev");
    EXPECT_EQ(Config::versionOrDev(" 1.2.3 "), " 1.2.3 ");  // used as it stands
    EXPECT_NE(Config::backendURL().text().back(), '/');
}

// The service address given at run time is taken only on this computer; any other is refused
// with a notice that names it and the built-in one.
TEST(Config, RunTimeServiceAddressOnlyOnThisComputer) {
    const Url built = *Url::parse("https://dictation.example.org");
    for (const char* local :
         {"", "http://127.0.0.1:40123", "http://localhost:9", "http://[::1]:8000"}) {
        std::string notice;
        EXPECT_EQ(Config::chooseBackendURL(built, local, &notice).text(),
                  *local ? local : built.text());
        EXPECT_EQ(notice, "") << local;
    }
    EXPECT_EQ(Config::chooseBackendURL(built, nullptr, nullptr), built);
    for (const char* refused :
         {"http://10.0.0.7:8177", "https://evil.example.net", "http://127.0.0.1.example.net",
          "127.0.0.1:8177", "http://127.0.0.1:8177/v1", "ftp://x"}) {
        std::string notice;
        EXPECT_EQ(Config::chooseBackendURL(built, refused, &notice), built) << refused;
        EXPECT_NE(notice.find(refused), std::string::npos) << notice;
        EXPECT_NE(notice.find("https://dictation.example.org"), std::string::npos) << notice;
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
    for (const char* url :
         {"http://127.0.0.1:8177", "http://127.3.2.1", "http://localhost:1", "http://[::1]:9"}) {
        EXPECT_TRUE(Url::parse(url)->isLoopback()) << url;
    }
    for (const char* url :
         {"http://128.0.0.1", "http://10.0.0.1", "http://localhost.example.org", "http://[::2]"}) {
        EXPECT_FALSE(Url::parse(url)->isLoopback()) << url;
    }
    const auto base = Url::parse("https://example.org/");
    EXPECT_EQ(base->text(), "https://example.org");
    EXPECT_EQ(base->appending("v1/transcribe"), "https://example.org/v1/transcribe");
    EXPECT_EQ(base->appending("/health"), "https://example.org/health");
}

struct DecideCase {
    const char* name;
    std::optional<std::string> resource;
    std::vector<std::string> preferred;
    std::string expected;
};

TEST(L10n, DecisionTable) {
    const std::vector<DecideCase> cases = {
        {"resource zh with a line feed wins", "zh\n", {"en-US"}, "zh"},
        {"resource en wins over a Chinese system", " en ", {"zh_CN.UTF-8"}, "en"},
        {"capital EN is ignored", "EN", {"zh-Hans"}, "zh"},
        {"fr is ignored", "fr", {"en_GB"}, "en"},
        {"empty resource is ignored", "", {"zh_TW"}, "zh"},
        {"no resource, zh-Hant-HK first", std::nullopt, {"zh-Hant-HK"}, "zh"},
        {"only the first language counts", std::nullopt, {"en-GB", "zh-Hans"}, "en"},
        {"empty list", std::nullopt, {}, "en"},
        {"C locale", std::nullopt, {"C.UTF-8"}, "en"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(L10n::decide(c.resource, c.preferred), c.expected) << c.name;
    }
}

TEST(L10n, PreferredLanguagesFromTheEnvironment) {
    using Env = std::map<std::string, std::string>;
    const auto from = [](const Env& env) {
        return L10n::preferredLanguages([&env](const char* name) -> const char* {
            const auto found = env.find(name);
            return found == env.end() ? nullptr : found->second.c_str();
        });
    };
    using List = std::vector<std::string>;
    EXPECT_EQ(from({{"LANGUAGE", "zh_CN:en"}, {"LANG", "de_DE.UTF-8"}}), (List{"zh_CN", "en"}));
    EXPECT_EQ(from({{"LANGUAGE", "::"}, {"LC_ALL", "zh_TW.UTF-8"}}), (List{"zh_TW.UTF-8"}));
    EXPECT_EQ(from({{"LC_ALL", ""}, {"LC_MESSAGES", "fr_FR"}, {"LANG", "zh_CN"}}), (List{"fr_FR"}));
    EXPECT_EQ(from({{"LANG", "zh_CN.UTF-8"}}), (List{"zh_CN.UTF-8"}));
    EXPECT_EQ(from({}), List{});
}

TEST(L10n, ResourceIsLookedUpInTheDataFolderThenBesideTheExecutable) {
    test::TempHome home;
    const auto bin = home.path() / "bin";
    std::filesystem::create_directories(bin);
    const auto candidates = L10n::resourceCandidates(bin);

    EXPECT_EQ(L10n::readResource(candidates), std::nullopt);
    home.write("bin/default_lang", "en");
    EXPECT_EQ(L10n::readResource(candidates), "en");
    home.write("share/sayloft/default_lang", "zh\n");
    EXPECT_EQ(L10n::readResource(candidates), "zh\n");

    // A resource that is not UTF-8 counts as unreadable: the preferred languages decide, the
    // other candidate is not consulted.
    home.write("share/sayloft/default_lang", "\xFFzh");
    EXPECT_EQ(L10n::readResource(candidates), std::nullopt);
}

}  // namespace
}  // namespace sayloft
