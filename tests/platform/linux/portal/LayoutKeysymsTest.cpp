#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/linux/portal/LayoutKeysyms.h"

namespace sayloft {
namespace {

constexpr std::uint32_t oDiaeresis = 0xf6;  // ö: on the German layout, not on the US one
constexpr std::uint32_t exclamation = 0x21;

TEST(LayoutKeysyms, TheSessionsLayoutFromTheEnvironmentOrTheSystemsKeyboardFile) {
    const auto file = std::filesystem::path(::testing::TempDir()) / "keyboard";
    struct Row {
        const char* name;
        const char* environment;  // $XKB_DEFAULT_LAYOUT, or nullptr
        const char* fileText;
        bool typesODiaeresis;
    };
    const Row rows[] = {
        {"the file's layout, first of its list", nullptr, "XKBLAYOUT=\"de,us\"\n", true},
        {"the environment first", "us", "XKBLAYOUT=\"de\"\n", false},
        {"no file: us", nullptr, nullptr, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(file);
        if (row.fileText) {
            std::ofstream(file) << "XKBMODEL=\"pc105\"\n" << row.fileText;
        }
        if (row.environment) {
            ::setenv("XKB_DEFAULT_LAYOUT", row.environment, 1);
        } else {
            ::unsetenv("XKB_DEFAULT_LAYOUT");
        }
        const auto keysyms = LayoutKeysyms::ofThisSession(file);
        EXPECT_EQ(keysyms.count(oDiaeresis) > 0, row.typesODiaeresis);
        EXPECT_GT(keysyms.count(exclamation), 0u);
    }
    ::unsetenv("XKB_DEFAULT_LAYOUT");
}

}  // namespace
}  // namespace sayloft
