#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/l10n/L10n.h"

namespace sayloft {
namespace {

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
