#include <gtest/gtest.h>

#include "WaylandSession.h"
#include "platform/linux/wayland/WaylandGlobals.h"

namespace sayloft {
namespace {

TEST(WaylandGlobalsTest, NoCompositorIsNullopt) {
    EXPECT_FALSE(WaylandGlobals::probe("sayloft-no-such-display").has_value());
}

TEST(WaylandGlobalsTest, ListsWhatTheCompositorAdvertisesWithVersions) {
    SAYLOFT_REQUIRE_WAYLAND_SESSION();
    const auto globals = WaylandGlobals::probe();
    ASSERT_TRUE(globals.has_value());
    // What the backends of this library need from the test compositor (sway 1.7).
    const std::pair<const char*, std::uint32_t> needed[] = {
        {"wl_seat", 1},
        {"zwp_virtual_keyboard_manager_v1", 1},
        {"zwlr_data_control_manager_v1", 2},
        {"zwlr_layer_shell_v1", 1},
    };
    for (const auto& [name, version] : needed) {
        const auto found = globals->find(name);
        ASSERT_NE(found, globals->end()) << name << " is not advertised";
        EXPECT_GE(found->second, version) << name;
    }
}

}  // namespace
}  // namespace sayloft
