#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/net/InviteCode.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

TEST(InviteCode, LoadsOneCodeOnOneLineFromAPrivateFile) {
    const test::TempHome home;
    const std::string code = "3f9c1a7e5b2d4c6a";
    struct Row {
        const char* name;
        std::string content;
        fs::perms perms;
        std::optional<std::string> expected;
        const char* complaint = "";
    };
    const Row rows[] = {
        {"plain", code, fs::perms(0600), code},
        {"newline", code + "\n", fs::perms(0640), code},
        {"longest", std::string(256, 'k') + "\n", fs::perms(0600), std::string(256, 'k')},
        {"empty", "", fs::perms(0600), std::nullopt, "is empty"},
        {"just over", std::string(257, 'k'), fs::perms(0600), std::nullopt, "longer than"},
        {"two lines", code + "\n" + code + "\n", fs::perms(0600), std::nullopt, "one line"},
        {"short", "abc123", fs::perms(0600), std::nullopt, "at least 16"},
        {"world readable", code, fs::perms(0644), std::nullopt, "chmod 600"},
    };
    for (const Row& row : rows) {
        const auto file = home.write(row.name, row.content, row.perms);
        std::string error;
        EXPECT_EQ(InviteCode::load(file, &error), row.expected) << row.name;
        EXPECT_NE(error.find(row.complaint), std::string::npos) << row.name << ": " << error;
        if (!row.expected) {
            EXPECT_NE(error.find(file.string()), std::string::npos) << error;
        }
    }
    std::string error;
    EXPECT_FALSE(InviteCode::load(home.path() / "absent", &error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos) << error;
    EXPECT_FALSE(InviteCode::load(home.path(), &error));  // a folder
}

TEST(InviteCode, AValidCodeCanTravelInAHeaderUnchanged) {
    for (const char* good : {"3f9c-1a7e_5b2d.4c6a", "p@ss/w0rd+!~"}) {
        EXPECT_TRUE(InviteCode::isValid(good)) << good;
    }
    for (const std::string& bad :
         {std::string(), std::string("two words"), std::string("a\r\nX: 1"),
          std::string("caf\xc3\xa9"), std::string(257, 'k')}) {
        EXPECT_FALSE(InviteCode::isValid(bad)) << bad;
    }
}

}  // namespace
}  // namespace sayloft
