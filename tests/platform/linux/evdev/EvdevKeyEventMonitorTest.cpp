#include <QCoreApplication>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempHome.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/evdev/EvdevKeyEventMonitor.h"
#include "platform/linux/evdev/EvdevKeyboard.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

// Modifier events as a table row writes them: (virtual key, flags).
using Events = std::vector<std::pair<int, std::uint64_t>>;
constexpr std::uint64_t opt = ModifierFlag::option;
constexpr std::uint64_t cmd = ModifierFlag::command;
constexpr std::uint64_t ctl = ModifierFlag::control;

input_event key(std::uint16_t code, std::int32_t value) {
    return {.time = {}, .type = EV_KEY, .code = code, .value = value};
}
const input_event report{.time = {}, .type = EV_SYN, .code = SYN_REPORT, .value = 0};
const input_event dropped{.time = {}, .type = EV_SYN, .code = SYN_DROPPED, .value = 0};

// Keyboards as FIFOs in a temporary folder standing for /dev/input: the test holds each one open
// for writing, so the monitor's reads find records or nothing, and closing it is the keyboard
// going away.
class FakeDevices {
public:
    ~FakeDevices() {
        for (const auto& [name, fd] : writers_) {
            ::close(fd);
        }
    }
    const std::filesystem::path& folder() const { return home_.path(); }

    void add(const std::string& name) {
        const auto path = folder() / name;
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        writers_[name] = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    void write(const std::string& name, const std::vector<input_event>& events) {
        const auto size = static_cast<ssize_t>(events.size() * sizeof(input_event));
        ASSERT_EQ(::write(writers_.at(name), events.data(), static_cast<std::size_t>(size)), size);
    }
    void unlink(const std::string& name) { std::filesystem::remove(folder() / name); }
    void closeWriter(const std::string& name) {
        ::close(writers_.at(name));
        writers_.erase(name);
    }

private:
    test::TempHome home_;
    std::map<std::string, int> writers_;
};

TEST(EvdevKeyEventMonitor, ReadsEveryKeyboardAsOne) {
    enum class Act { add, write, unlink, closeWriter };
    struct Step {
        Act act;
        std::string device;
        std::vector<input_event> records;
        Events expected;  // the events this step makes
    };
    struct Row {
        const char* name;
        std::vector<std::string> before;  // keyboards present at install
        std::vector<Step> steps;
    };
    const Row rows[] = {
        {"two keyboards: releasing one of left and right keeps the flag",
         {"event0", "event1"},
         {{Act::write, "event0", {key(KEY_RIGHTALT, 1), report}, {{61, opt}}},
          {Act::write, "event1", {key(KEY_LEFTALT, 1), report}, {{58, opt}}},
          {Act::write, "event0", {key(KEY_RIGHTALT, 0), report}, {{61, opt}}},
          {Act::write, "event1", {key(KEY_LEFTALT, 0), report}, {{58, 0}}}}},
        {"the same key on two keyboards is down until both let go",
         {"event0", "event1"},
         {{Act::write, "event0", {key(KEY_RIGHTALT, 1), report}, {{61, opt}}},
          {Act::write,
           "event1",
           {key(KEY_RIGHTALT, 1), report, key(KEY_LEFTCTRL, 1), report},
           {{59, opt | ctl}}},
          {Act::write,
           "event0",
           {key(KEY_RIGHTALT, 0), report, key(KEY_LEFTALT, 1), report},
           {{58, opt | ctl}}},
          {Act::write, "event1", {key(KEY_RIGHTALT, 0), report}, {{61, opt | ctl}}}}},
        {"auto-repeat and other keys never reach the handler",
         {"event0"},
         {{Act::write,
           "event0",
           {key(KEY_A, 1), key(KEY_RIGHTALT, 1), report, key(KEY_RIGHTALT, 2), report,
            key(KEY_RIGHTALT, 2), key(KEY_B, 1), key(KEY_A, 0), report, key(KEY_RIGHTALT, 0),
            report},
           {{61, opt}, {61, 0}}}}},
        {"SYN_DROPPED on a stream releases its keys and drops records up to the next report",
         {"event0", "event1"},
         {{Act::write, "event0", {key(KEY_RIGHTALT, 1), report}, {{61, opt}}},
          {Act::write, "event1", {key(KEY_LEFTCTRL, 1), report}, {{59, opt | ctl}}},
          {Act::write,
           "event0",
           {dropped, key(KEY_LEFTALT, 1), report, key(KEY_RIGHTMETA, 1), report},
           {{61, ctl}, {54, ctl | cmd}}}}},
        {"a keyboard removed or closed while held counts as released",
         {"event0", "event1"},
         {{Act::write, "event0", {key(KEY_RIGHTALT, 1), report}, {{61, opt}}},
          {Act::write, "event1", {key(KEY_RIGHTCTRL, 1), report}, {{62, opt | ctl}}},
          {Act::unlink, "event0", {}, {{61, ctl}}},
          {Act::closeWriter, "event1", {}, {{62, 0}}}}},
        {"a keyboard plugged in later is read; other entries are not keyboards",
         {},
         {{Act::add, "mouse0", {}, {}},
          {Act::add, "event7", {}, {}},
          {Act::write, "event7", {key(KEY_LEFTMETA, 1), report}, {{55, cmd}}}}},
    };
    for (const Row& row : rows) {
        FakeDevices devices;
        for (const auto& name : row.before) {
            devices.add(name);
        }
        EvdevKeyEventMonitor monitor({devices.folder(), true});
        EXPECT_EQ(monitor.isTrusted(), !row.before.empty()) << row.name;
        Events seen;
        const auto id = monitor.install(
            [&seen](const ModifierEvent& event) { seen.emplace_back(event.keyCode, event.flags); });
        ASSERT_TRUE(id) << row.name;
        EXPECT_EQ(monitor.keyboardCount(), row.before.size()) << row.name;
        for (const Step& step : row.steps) {
            seen.clear();
            switch (step.act) {
                case Act::add:
                    devices.add(step.device);
                    break;
                case Act::write:
                    devices.write(step.device, step.records);
                    break;
                case Act::unlink:
                    devices.unlink(step.device);
                    break;
                case Act::closeWriter:
                    devices.closeWriter(step.device);
                    break;
            }
            test::waitUntil([&] { return seen.size() >= step.expected.size(); });
            EXPECT_EQ(seen, step.expected) << row.name << ", " << step.device;
        }
        monitor.remove(*id);
        EXPECT_EQ(monitor.keyboardCount(), 0u) << row.name;
    }
}

// How a device the user may not open is told to be a keyboard: its capabilities in sysfs.
TEST(EvdevKeyboard, KeyCapabilitiesFromSysfs) {
    const std::pair<const char*, bool> rows[] = {
        {"1000000000007 ff9f207ac14057ff febeffdfffefffff fffffffffffffffe\n", true},  // keyboard
        {"1000000000 0\n", true},       // Right Alt (100) alone
        {"10000000000000 0\n", false},  // a power button (116)
        {"1f0000 0 0 0 0\n", false},    // mouse buttons
        {"", false},
    };
    for (const auto& [text, keyboard] : rows) {
        EXPECT_EQ(EvdevKeyboard::keyCapabilitiesHaveModifier(text), keyboard) << text;
    }
}

}  // namespace
}  // namespace sayloft

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
