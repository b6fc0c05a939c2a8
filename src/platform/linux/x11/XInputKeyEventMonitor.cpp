#include "platform/linux/x11/XInputKeyEventMonitor.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <array>
#include <cstring>
#include <string_view>
#include <utility>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include "platform/ModifierEvent.h"

namespace sayloft {
namespace {

struct TableKey {
    unsigned keycode;
    std::uint16_t virtualKey;
    std::uint64_t flag;
};

constexpr std::array<TableKey, 6> table{{
    {108, 61, ModifierFlag::option},   // Right Alt
    {64, 58, ModifierFlag::option},    // Left Alt
    {134, 54, ModifierFlag::command},  // Right Super
    {133, 55, ModifierFlag::command},  // Left Super
    {105, 62, ModifierFlag::control},  // Right Ctrl
    {37, 59, ModifierFlag::control},   // Left Ctrl
}};

const TableKey* find(unsigned keycode) {
    for (const auto& key : table) {
        if (key.keycode == keycode) {
            return &key;
        }
    }
    return nullptr;
}

constexpr auto ownEventLifetime = std::chrono::seconds(2);

void setMaskBit(unsigned char* mask, int event) {
    mask[event >> 3] = static_cast<unsigned char>(mask[event >> 3] | (1 << (event & 7)));
}

}  // namespace

XInputKeyEventMonitor::XInputKeyEventMonitor(const char* displayName)
    : display_(XOpenDisplay(displayName)) {
    if (display_ == nullptr) {
        return;
    }
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    const bool hasXInput2 =
        XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error) &&
        XIQueryVersion(display_, &major, &minor) == Success && major >= 2;
    int xtestMajor = 0;
    int xtestMinor = 0;
    const bool hasXTest = XTestQueryExtension(display_, &event, &error, &xtestMajor, &xtestMinor);
    trusted_ = hasXInput2 && hasXTest;
    if (!trusted_) {
        return;
    }

    int count = 0;
    if (XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count)) {
        for (int i = 0; i < count; ++i) {
            const std::string_view name = devices[i].name != nullptr ? devices[i].name : "";
            if (devices[i].use == XISlaveKeyboard && name.find("XTEST") != std::string_view::npos) {
                xtestKeyboard_ = devices[i].deviceid;
                break;
            }
        }
        XIFreeDeviceInfo(devices);
    }

    notifier_ =
        std::make_unique<QSocketNotifier>(XConnectionNumber(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
}

XInputKeyEventMonitor::~XInputKeyEventMonitor() {
    notifier_.reset();
    if (display_ != nullptr) {
        XCloseDisplay(display_);
    }
}

bool XInputKeyEventMonitor::isTrusted() const {
    return trusted_;
}

std::optional<KeyEventMonitor::MonitorId> XInputKeyEventMonitor::install(Handler handler) {
    if (!trusted_ || !handler) {
        return std::nullopt;
    }
    if (handlers_.empty()) {
        selectEvents(true);
        readKeyState();
    }
    const MonitorId id = nextId_++;
    handlers_.emplace(id, std::move(handler));
    // Xlib may have queued events while waiting for the replies above; the socket notifier
    // would not fire for those.
    QMetaObject::invokeMethod(
        notifier_.get(), [this] { readEvents(); }, Qt::QueuedConnection);
    return id;
}

void XInputKeyEventMonitor::remove(MonitorId id) {
    if (handlers_.erase(id) == 0 || !handlers_.empty()) {
        return;
    }
    selectEvents(false);
    down_.clear();
    ownEvents_.clear();
}

std::optional<std::uint16_t> XInputKeyEventMonitor::virtualKeyFor(unsigned keycode) {
    if (const TableKey* key = find(keycode)) {
        return key->virtualKey;
    }
    return std::nullopt;
}

void XInputKeyEventMonitor::expectOwnEvent(unsigned keycode, bool press) {
    if (handlers_.empty() || find(keycode) == nullptr) {
        return;
    }
    ownEvents_.push_back(OwnEvent{keycode, press, std::chrono::steady_clock::now()});
}

void XInputKeyEventMonitor::selectEvents(bool on) {
    unsigned char mask[XIMaskLen(XI_LASTEVENT)];
    std::memset(mask, 0, sizeof mask);
    if (on) {
        setMaskBit(mask, XI_RawKeyPress);
        setMaskBit(mask, XI_RawKeyRelease);
    }
    XIEventMask eventMask;
    eventMask.deviceid = XIAllMasterDevices;
    eventMask.mask_len = sizeof mask;
    eventMask.mask = mask;
    XISelectEvents(display_, XDefaultRootWindow(display_), &eventMask, 1);
    XSync(display_, False);
}

void XInputKeyEventMonitor::readKeyState() {
    char keys[32];
    XQueryKeymap(display_, keys);
    down_.clear();
    for (const auto& key : table) {
        if ((keys[key.keycode / 8] & (1 << (key.keycode % 8))) != 0) {
            down_.insert(key.keycode);
        }
    }
}

void XInputKeyEventMonitor::readEvents() {
    while (display_ != nullptr && XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        XGenericEventCookie& cookie = event.xcookie;
        if (cookie.type != GenericEvent || cookie.extension != xiOpcode_ ||
            !XGetEventData(display_, &cookie)) {
            continue;
        }
        const bool isKey = cookie.evtype == XI_RawKeyPress || cookie.evtype == XI_RawKeyRelease;
        const auto* raw = static_cast<const XIRawEvent*>(cookie.data);
        const unsigned keycode = isKey ? static_cast<unsigned>(raw->detail) : 0;
        const int sourceId = isKey ? raw->sourceid : 0;
        const bool press = cookie.evtype == XI_RawKeyPress;
        XFreeEventData(display_, &cookie);
        if (isKey) {
            handleRaw(keycode, press, sourceId);
        }
    }
}

bool XInputKeyEventMonitor::consumeOwnEvent(unsigned keycode, bool press, int sourceId) {
    const auto now = std::chrono::steady_clock::now();
    while (!ownEvents_.empty() && now - ownEvents_.front().at > ownEventLifetime) {
        ownEvents_.pop_front();
    }
    if (xtestKeyboard_ >= 0 && sourceId != xtestKeyboard_) {
        return false;  // a real keyboard: always the user's
    }
    for (auto it = ownEvents_.begin(); it != ownEvents_.end(); ++it) {
        if (it->keycode == keycode && it->press == press) {
            // Announcements before this one whose events never came (the server may drop a
            // release of a key the XTEST keyboard did not press) are stale now.
            ownEvents_.erase(ownEvents_.begin(), it + 1);
            return true;
        }
    }
    return false;
}

void XInputKeyEventMonitor::handleRaw(unsigned keycode, bool press, int sourceId) {
    const TableKey* key = find(keycode);
    if (key == nullptr || handlers_.empty()) {
        return;
    }
    if (consumeOwnEvent(keycode, press, sourceId)) {
        return;
    }
    if (press) {
        if (!down_.insert(keycode).second) {
            return;  // repeat, or a second keyboard pressing the same key: no change
        }
    } else {
        down_.erase(keycode);
    }
    const ModifierEvent event{key->virtualKey, currentFlags()};
    const auto handlers = handlers_;  // a handler may remove or install monitors
    for (const auto& [id, handler] : handlers) {
        if (handlers_.count(id) != 0) {
            handler(event);
        }
    }
}

std::uint64_t XInputKeyEventMonitor::currentFlags() const {
    std::uint64_t flags = 0;
    for (const unsigned keycode : down_) {
        flags |= find(keycode)->flag;
    }
    return flags;
}

}  // namespace sayloft
