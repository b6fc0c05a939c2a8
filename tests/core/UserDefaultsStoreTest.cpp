#include <chrono>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "core/storage/UserDefaultsStore.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

TEST(UserDefaultsStore, TypedValuesSurviveARestart) {
    test::TempHome home;
    const auto file = UserDefaultsStore::defaultLocation(home.path());
    const auto when =
        UserDefaultsStore::Date(std::chrono::duration_cast<UserDefaultsStore::Date::duration>(
            std::chrono::nanoseconds(1796472924123456789)));
    {
        UserDefaultsStore store(file);
        EXPECT_TRUE(store.setInteger("hotkeyKeyCode", 58));
        EXPECT_TRUE(store.setBoolean("insertByTyping", true));
        EXPECT_TRUE(store.setDate("crashReportLastSeen", when));
        EXPECT_TRUE(store.setText("note", "言泉"));
        EXPECT_TRUE(store.setInteger("gone", 1));
        EXPECT_TRUE(store.remove("gone"));
    }
    UserDefaultsStore reopened(file);
    EXPECT_EQ(reopened.integer("hotkeyKeyCode"), 58);
    EXPECT_EQ(reopened.boolean("insertByTyping"), true);
    EXPECT_EQ(reopened.date("crashReportLastSeen"), when);
    EXPECT_EQ(reopened.text("note"), "言泉");
    EXPECT_EQ(reopened.integer("gone"), std::nullopt);
    EXPECT_EQ(reopened.brokenFileSetAside(), std::nullopt);
    // a value of another type reads as absent
    EXPECT_EQ(reopened.integer("note"), std::nullopt);
    EXPECT_EQ(reopened.boolean("hotkeyKeyCode"), std::nullopt);
    EXPECT_EQ(reopened.date("hotkeyKeyCode"), std::nullopt);
    EXPECT_EQ(reopened.text("insertByTyping"), std::nullopt);
}

TEST(UserDefaultsStore, UnknownShapesAreKeptOnWrite) {
    test::TempHome home;
    const auto file = home.write("defaults.json", R"({"future": [1, {"x": 2}], "n": 3})");
    UserDefaultsStore store(file);
    EXPECT_EQ(store.integer("n"), 3);
    EXPECT_EQ(store.text("future"), std::nullopt);
    store.setInteger("n", 4);
    const auto written = nlohmann::json::parse(test::readAll(file));
    EXPECT_EQ(written["future"], nlohmann::json::parse(R"([1, {"x": 2}])"));
    EXPECT_EQ(written["n"], 4);
}

// Each broken file reads as empty and is kept aside, a new one for every breakage (several
// within one second get the same time in their names), none overwritten by another or by a write.
TEST(UserDefaultsStore, EveryBrokenFileIsKeptAsideNoneOverwritten) {
    test::TempHome home;
    const std::vector<std::string> broken = {"{\"hotkeyKeyCode\": 58,", "[1, 2]",
                                             "\xFF\xFE garbage", ""};
    std::set<fs::path> kept;
    for (const auto& bytes : broken) {
        const auto file = home.write("Sayloft/defaults.json", bytes);
        UserDefaultsStore store(file);
        EXPECT_EQ(store.integer("hotkeyKeyCode"), std::nullopt);
        const auto aside = store.brokenFileSetAside();
        ASSERT_TRUE(aside.has_value()) << bytes;
        EXPECT_FALSE(fs::exists(file));
        EXPECT_TRUE(store.setInteger("hotkeyKeyCode", 59));
        EXPECT_EQ(UserDefaultsStore(file).integer("hotkeyKeyCode"), 59);
        kept.insert(*aside);
    }
    std::set<std::string> contents;
    for (const auto& file : kept) {
        contents.insert(test::readAll(file));
    }
    EXPECT_EQ(contents, std::set<std::string>(broken.begin(), broken.end()));
}

TEST(UserDefaultsStore, ReadOnlyAccessChangesNoFile) {
    test::TempHome home;
    const auto file = home.write("Sayloft/defaults.json", "{\"hotkeyKeyCode\": 58,");
    UserDefaultsStore broken(file, UserDefaultsStore::Access::readOnly);
    EXPECT_TRUE(broken.foundBroken());
    EXPECT_EQ(broken.brokenFileSetAside(), std::nullopt);
    EXPECT_FALSE(broken.setInteger("hotkeyKeyCode", 59));
    EXPECT_EQ(test::readAll(file), "{\"hotkeyKeyCode\": 58,");
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()),
              1);

    home.write("Sayloft/defaults.json", R"({"hotkeyKeyCode": 58})");
    UserDefaultsStore sound(file, UserDefaultsStore::Access::readOnly);
    EXPECT_FALSE(sound.foundBroken());
    EXPECT_EQ(sound.integer("hotkeyKeyCode"), 58);
    EXPECT_FALSE(sound.remove("hotkeyKeyCode"));
    EXPECT_EQ(test::readAll(file), R"({"hotkeyKeyCode": 58})");
}

TEST(UserDefaultsStore, AnUnreadableFileIsNeverOverwritten) {
    test::TempHome home;
    const auto file = home.path() / "defaults.json";
    fs::create_directories(file / "inside");  // a folder where the file should be
    UserDefaultsStore store(file);
    EXPECT_FALSE(store.setBoolean("insertByTyping", true));
    EXPECT_EQ(store.boolean("insertByTyping"), true);  // kept for this run
    EXPECT_TRUE(fs::exists(file / "inside"));
}

}  // namespace
}  // namespace sayloft
