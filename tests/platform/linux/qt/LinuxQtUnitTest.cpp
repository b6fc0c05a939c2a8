// The parts of sayloft_linux_qt that need no display: settings, bundle resources, rectangles.

#include <QRect>
#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "platform/linux/qt/InstalledBundle.h"
#include "platform/linux/qt/JsonUserDefaults.h"
#include "platform/linux/qt/QtScreens.h"

namespace sayloft {
namespace {

namespace fs = std::filesystem;

TEST(JsonUserDefaults, EveryTypeSurvivesANewInstanceAndRemovalIsStored) {
    test::TempHome scratch;
    const fs::path file = UserDefaultsStore::defaultLocation(scratch.path() / "config");
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1767225600));
    {
        JsonUserDefaults defaults(file);
        defaults.setInteger("hotkeyKeyCode", 54);
        defaults.setBoolean("dataExportConsent_v1", true);
        defaults.setDate("crashReportLastSeen", when);
        defaults.setText("note", "测试中文🙂");
        defaults.setBoolean("insertByTyping", true);
        defaults.remove("insertByTyping");
    }
    EXPECT_EQ(file, scratch.path() / "config" / "Sayloft" / "defaults.json");
    const JsonUserDefaults again(file);
    EXPECT_EQ(again.integer("hotkeyKeyCode"), 54);
    EXPECT_EQ(again.boolean("dataExportConsent_v1"), true);
    EXPECT_EQ(again.date("crashReportLastSeen"), when);
    EXPECT_EQ(again.text("note"), "测试中文🙂");
    EXPECT_EQ(again.boolean("insertByTyping"), std::nullopt);
    // A value of another type reads as absent.
    EXPECT_EQ(again.boolean("hotkeyKeyCode"), std::nullopt);
    EXPECT_EQ(again.integer("note"), std::nullopt);
}

TEST(InstalledBundle, FindsResourcesInstalledFirstThenBesideTheProgramAndNeverOutside) {
    test::TempHome scratch;
    const fs::path bin = scratch.path() / "prefix" / "bin";
    fs::create_directories(bin);
    scratch.write("prefix/share/sayloft/default_lang", "zh");
    scratch.write("prefix/share/sayloft/icons/mic.svg", "<svg/>");
    scratch.write("prefix/bin/default_lang", "en");
    scratch.write("prefix/bin/only-here", "x");
    scratch.write("prefix/secret", "x");
    const InstalledBundle bundle("0.1.0", InstalledBundle::resourceFolders(bin));

    struct Case {
        const char* name;
        std::optional<fs::path> expected;
    };
    const Case cases[] = {
        {"default_lang", scratch.path() / "prefix/share/sayloft/default_lang"},
        {"icons/mic.svg", scratch.path() / "prefix/share/sayloft/icons/mic.svg"},
        {"only-here", scratch.path() / "prefix/bin/only-here"},
        {"missing", std::nullopt},
        {"icons", std::nullopt},  // a folder is no resource
        {"", std::nullopt},
        {"../../secret", std::nullopt},
        {"icons/../../../secret", std::nullopt},
        {"/etc/passwd", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bundle.resource(c.name), c.expected) << c.name;
    }
}

TEST(QtScreens, RectanglesKeepTheirOriginAndCountWholePixels) {
    // QRect's right() and bottom() are inclusive: a 1280-pixel-wide screen has right() == 1279.
    EXPECT_EQ(QtScreens::toRect(QRect(-1920, -200, 1920, 1080)), (Rect{-1920, -200, 1920, 1080}));
    // A work area that leaves out a 32-pixel top panel.
    EXPECT_EQ(QtScreens::toRect(QRect(QPoint(0, 32), QPoint(1279, 799))), (Rect{0, 32, 1280, 768}));
}

}  // namespace
}  // namespace sayloft
