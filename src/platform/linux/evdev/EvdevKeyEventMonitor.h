#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/KeyEventMonitor.h"
#include "platform/linux/evdev/ModifierKeyState.h"

class QSocketNotifier;

namespace sayloft {

class EvdevKeyboard;

// The hotkey's eyes on any Wayland compositor (and beside any X server): the keyboards under
// /dev/input read directly (see EvdevKeyboard), which needs membership of the `input` group,
// and with it every program of the user could read every key. Nothing is grabbed, and the
// kernel delivers only the six modifier keys to this process.
//
// Every event* entry of the folder that the user may read and that has one of the six
// modifiers is a keyboard; the folder is watched (inotify), so keyboards plugged in later are
// read too, and a keyboard that disappears counts as its keys released (those releases are
// reported). The keyboards count together (ModifierKeyState): an event's flags are those of the
// modifiers down on any of them; auto-repeat is not a change. Keys already down when a keyboard
// is opened count in the flags of later events and their release is reported, their press not.
//
// Keyboards are opened when the first monitor is installed and closed when the last is
// removed. The descriptors are watched by the Qt event loop, so handlers run on the main thread;
// a QCoreApplication must exist before install().
class EvdevKeyEventMonitor final : public KeyEventMonitor {
public:
    struct Options {
        std::filesystem::path folder = "/dev/input";
        // Tests only: FIFOs in the folder carrying `struct input_event` records count as
        // keyboards (see EvdevKeyboard::open).
        bool acceptRecordStreams = false;
        // Where the kernel describes the devices to everyone (a device this user may not open
        // is told to be a keyboard or not from there).
        std::filesystem::path sysfs = "/sys/class/input";
    };

    // What the folder holds now, for the route choice and the doctor.
    struct Survey {
        unsigned found = 0;     // keyboards, readable or not (a device whose description is
                                // unreadable too counts, as it may be one)
        unsigned readable = 0;  // keyboards this user may read
    };
    static Survey survey(const Options& options);

    explicit EvdevKeyEventMonitor(Options options);
    EvdevKeyEventMonitor() : EvdevKeyEventMonitor(Options{}) {}
    ~EvdevKeyEventMonitor() override;

    EvdevKeyEventMonitor(const EvdevKeyEventMonitor&) = delete;
    EvdevKeyEventMonitor& operator=(const EvdevKeyEventMonitor&) = delete;

    // A keyboard is readable now (while installed: one is open).
    bool isTrusted() const override;
    // nullopt when the folder cannot be watched.
    std::optional<MonitorId> install(Handler handler) override;
    void remove(MonitorId id) override;

    // Keyboards open now (while installed).
    std::size_t keyboardCount() const { return devices_.size(); }

private:
    struct Device {
        ModifierKeyState::DeviceId id = 0;
        std::unique_ptr<EvdevKeyboard> keyboard;
        std::unique_ptr<QSocketNotifier, void (*)(QSocketNotifier*)> notifier{nullptr, nullptr};
    };

    bool start();
    void stop();
    void scan(std::vector<ModifierEvent>& events);
    void openDevice(const std::string& name);
    void closeDevice(const std::string& name, std::vector<ModifierEvent>& events);
    void readDevice(const std::string& name);
    void readFolder();
    void deliver(const std::vector<ModifierEvent>& events);

    Options options_;
    int inotify_ = -1;
    std::unique_ptr<QSocketNotifier, void (*)(QSocketNotifier*)> folderNotifier_{nullptr, nullptr};
    std::map<std::string, Device> devices_;  // by entry name ("event3")
    ModifierKeyState state_;
    ModifierKeyState::DeviceId nextDevice_ = 1;
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
};

}  // namespace sayloft
