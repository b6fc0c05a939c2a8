#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include "ModifierEventRows.h"
#include "platform/linux/evdev/ModifierKeyState.h"

namespace sayloft {
namespace {

using namespace test;

Events plain(const std::vector<ModifierEvent>& events) {
    Events result;
    for (const auto& event : events) {
        result.emplace_back(event.keyCode, event.flags);
    }
    return result;
}

// The codes, flags and left-and-right sharing are EvdevKeyEventMonitor's table; here what only
// the state shows.
TEST(ModifierKeyState, KeyboardsCountTogether) {
    enum class Op { press, release, replace, remove };
    struct Step {
        Op op;
        ModifierKeyState::DeviceId device;
        std::set<std::uint16_t> codes;  // one code, or the keys down for replace
        Events expected;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"other keys and a second press change nothing",
         {{Op::press, 1, {KEY_A}, {}},
          {Op::press, 1, {KEY_RIGHTSHIFT}, {}},
          {Op::press, 1, {KEY_RIGHTALT}, {{61, opt}}},
          {Op::press, 1, {KEY_RIGHTALT}, {}},
          {Op::release, 1, {KEY_A}, {}},
          {Op::release, 1, {KEY_RIGHTALT}, {{61, 0}}},
          {Op::release, 1, {KEY_RIGHTALT}, {}}}},
        {"the same key on two keyboards is down until both let go",
         {{Op::press, 1, {KEY_RIGHTALT}, {{61, opt}}},
          {Op::press, 2, {KEY_RIGHTALT}, {}},
          {Op::release, 1, {KEY_RIGHTALT}, {}},
          {Op::release, 2, {KEY_RIGHTALT}, {{61, 0}}}}},
        {"a keyboard removed releases only what no other keyboard holds",
         {{Op::press, 1, {KEY_RIGHTALT}, {{61, opt}}},
          {Op::press, 1, {KEY_LEFTCTRL}, {{59, opt | ctl}}},
          {Op::press, 2, {KEY_LEFTCTRL}, {}},
          {Op::remove, 1, {}, {{61, ctl}}},
          {Op::remove, 1, {}, {}},
          {Op::release, 2, {KEY_LEFTCTRL}, {{59, 0}}}}},
        {"a resynchronised keyboard reports each difference",
         {{Op::press, 1, {KEY_RIGHTALT}, {{61, opt}}},
          {Op::replace, 1, {KEY_RIGHTALT, KEY_A}, {}},
          {Op::replace, 1, {KEY_LEFTMETA}, {{61, 0}, {55, cmd}}},
          {Op::replace, 1, {}, {{55, 0}}}}},
    };
    for (const Row& row : rows) {
        ModifierKeyState state;
        int index = 0;
        for (const Step& step : row.steps) {
            const std::uint16_t code = step.codes.empty() ? 0 : *step.codes.begin();
            std::vector<ModifierEvent> events;
            switch (step.op) {
                case Op::press:
                    events = state.press(step.device, code);
                    break;
                case Op::release:
                    events = state.release(step.device, code);
                    break;
                case Op::replace:
                    events = state.replace(step.device, step.codes);
                    break;
                case Op::remove:
                    events = state.remove(step.device);
                    break;
            }
            EXPECT_EQ(plain(events), step.expected) << row.name << ", step " << index;
            if (!step.expected.empty()) {
                EXPECT_EQ(state.flags(), step.expected.back().second) << row.name;
            }
            ++index;
        }
        EXPECT_EQ(state.flags(), 0u) << row.name << ": ends with nothing down";
    }
}

}  // namespace
}  // namespace sayloft
