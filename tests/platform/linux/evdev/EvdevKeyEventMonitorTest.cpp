#include <QCoreApplication>
#include <cerrno>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ModifierEventRows.h"
#include "TempHome.h"
#include "platform/linux/evdev/EvdevKeyEventMonitor.h"
#include "platform/linux/evdev/EvdevKeyboard.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using namespace test;

struct Record {
    std::uint16_t type;
    std::uint16_t code;
    std::int32_t value;
};
Record key(std::uint16_t code, std::int32_t value) {
    return {EV_KEY, code, value};
}
const Record report{EV_SYN, SYN_REPORT, 0};
const Record dropped{EV_SYN, SYN_DROPPED, 0};

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
    void write(const std::string& name, const std::vector<Record>& records) {
        std::vector<input_event> events;
        for (const Record& record : records) {
            input_event event{};
            event.type = record.type;
            event.code = record.code;
            event.value = record.value;
            events.push_back(event);
        }
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
        std::vector<Record> records;
        Events expected;  // all events so far, once this step is read
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
          {Act::write, "event1", {key(KEY_LEFTALT, 1), report}, {{61, opt}, {58, opt}}},
          {Act::write, "event0", {key(KEY_RIGHTALT, 0), report}, {{61, opt}, {58, opt}, {61, opt}}},
          {Act::write,
           "event1",
           {key(KEY_LEFTALT, 0), report},
           {{61, opt}, {58, opt}, {61, opt}, {58, 0}}}}},
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
          {Act::write, "event1", {key(KEY_LEFTCTRL, 1), report}, {{61, opt}, {59, opt | ctl}}},
          {Act::write,
           "event0",
           {dropped, key(KEY_LEFTALT, 1), report, key(KEY_RIGHTMETA, 1), report},
           {{61, opt}, {59, opt | ctl}, {61, ctl}, {54, ctl | cmd}}}}},
        {"a keyboard removed or closed while held counts as released",
         {"event0", "event1"},
         {{Act::write, "event0", {key(KEY_RIGHTALT, 1), report}, {{61, opt}}},
          {Act::write, "event1", {key(KEY_RIGHTCTRL, 1), report}, {{61, opt}, {62, opt | ctl}}},
          {Act::unlink, "event0", {}, {{61, opt}, {62, opt | ctl}, {61, ctl}}},
          {Act::closeWriter, "event1", {}, {{61, opt}, {62, opt | ctl}, {61, ctl}, {62, 0}}}}},
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
        {"20000000\n", true},           // Left Ctrl (29) alone
        {"10000000000000 0\n", false},  // a power button (116)
        {"1f0000 0 0 0 0\n", false},    // mouse buttons
        {"", false},
        {"not hexadecimal\n", false},
    };
    for (const auto& [text, keyboard] : rows) {
        EXPECT_EQ(EvdevKeyboard::keyCapabilitiesHaveModifier(text), keyboard) << text;
    }
}

// A real keyboard through the kernel: the event mask keeps other keys and scan codes from this
// process, and a SYN_DROPPED (the kernel's buffer overflowing while the loop is busy) is
// resynchronised from the kernel's key state. In a desktop session its keys (one "a", Ctrl
// presses) also reach the focused window.
TEST(EvdevKeyEventMonitor, RealKeyboardThroughUinput) {
    if (::access("/dev/uinput", W_OK) != 0) {
        GTEST_SKIP() << "no writable /dev/uinput here: the real keyboard is not tested";
    }
    libevdev* device = libevdev_new();
    libevdev_set_name(device, "sayloft test keyboard");
    libevdev_enable_event_type(device, EV_KEY);
    libevdev_enable_event_type(device, EV_MSC);
    libevdev_enable_event_code(device, EV_MSC, MSC_SCAN, nullptr);
    for (const unsigned code : {KEY_A, KEY_RIGHTALT, KEY_LEFTCTRL}) {
        libevdev_enable_event_code(device, EV_KEY, code, nullptr);
    }
    libevdev_uinput* uinput = nullptr;
    ASSERT_EQ(libevdev_uinput_create_from_device(device, LIBEVDEV_UINPUT_OPEN_MANAGED, &uinput), 0);
    const char* devnode = libevdev_uinput_get_devnode(uinput);
    ASSERT_NE(devnode, nullptr) << "the uinput keyboard has no node under /dev/input";
    const std::filesystem::path node = devnode;
    ASSERT_TRUE(test::waitUntil([&] { return ::access(node.c_str(), R_OK) == 0; }))
        << node << " is not readable";
    const auto send = [uinput](unsigned code, int value) {
        libevdev_uinput_write_event(uinput, EV_MSC, MSC_SCAN, 0x70000 + static_cast<int>(code));
        libevdev_uinput_write_event(uinput, EV_KEY, code, value);
        libevdev_uinput_write_event(uinput, EV_SYN, SYN_REPORT, 0);
    };

    {  // What the kernel hands an opened keyboard: the modifier and SYN events, nothing else.
        auto opening = EvdevKeyboard::open(node);
        ASSERT_EQ(opening.outcome, EvdevKeyboard::Outcome::keyboard);
        send(KEY_A, 1);
        send(KEY_A, 0);
        send(KEY_RIGHTALT, 1);
        send(KEY_RIGHTALT, 0);
        std::vector<input_event> records(16);
        const ssize_t count =
            ::read(opening.keyboard->fd(), records.data(), records.size() * sizeof(input_event));
        ASSERT_GT(count, 0);
        records.resize(static_cast<std::size_t>(count) / sizeof(input_event));
        std::vector<std::pair<int, int>> seen;  // (type, code)
        for (const auto& record : records) {
            seen.emplace_back(record.type, record.code);
        }
        EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{EV_KEY, KEY_RIGHTALT},
                                                          {EV_SYN, SYN_REPORT},
                                                          {EV_KEY, KEY_RIGHTALT},
                                                          {EV_SYN, SYN_REPORT}}));
    }

    EvdevKeyEventMonitor monitor({node.parent_path(), false});
    Events seen;
    const auto id = monitor.install(
        [&seen](const ModifierEvent& event) { seen.emplace_back(event.keyCode, event.flags); });
    ASSERT_TRUE(id);
    send(KEY_RIGHTALT, 1);
    ASSERT_TRUE(test::waitUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen, (Events{{61, opt}}));

    // Right Alt goes up early in a flood far larger than the kernel's buffer, written while the
    // loop does not read: its release is among the events dropped, so only a resynchronisation
    // knows that it is up when Left Ctrl goes down at the end.
    send(KEY_RIGHTALT, 0);
    for (int i = 0; i < 2000; ++i) {
        send(KEY_LEFTCTRL, 1);
        send(KEY_LEFTCTRL, 0);
    }
    send(KEY_LEFTCTRL, 1);
    EXPECT_TRUE(test::waitUntil([&] {
        return seen.back() == Events::value_type{59, ctl};
    })) << "the state after the overflow was not resynchronised";
    send(KEY_LEFTCTRL, 0);
    EXPECT_TRUE(test::waitUntil([&] { return seen.back() == Events::value_type{59, 0}; }));
    monitor.remove(*id);
    libevdev_uinput_destroy(uinput);
    libevdev_free(device);
}

}  // namespace
}  // namespace sayloft

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
