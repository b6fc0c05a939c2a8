#include "platform/linux/evdev/EvdevKeyEventMonitor.h"

#include <QSocketNotifier>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include <sys/inotify.h>
#include <unistd.h>

#include "platform/linux/evdev/EvdevKeyboard.h"

namespace sayloft {
namespace {

bool isEventNode(const std::string& name) {
    return name.rfind("event", 0) == 0;
}

std::vector<std::string> eventNodes(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (isEventNode(name)) {
            names.push_back(name);
        }
    }
    return names;
}

// A notifier may be destroyed from inside its own activation (a keyboard read and found
// gone, a handler removing the monitor): disabled at once, deleted by the event loop later.
void retire(QSocketNotifier* notifier) {
    if (notifier != nullptr) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
}

}  // namespace

EvdevKeyEventMonitor::Survey EvdevKeyEventMonitor::survey(const Options& options) {
    Survey survey;
    for (const std::string& name : eventNodes(options.folder)) {
        switch (EvdevKeyboard::open(options.folder / name, options.acceptRecordStreams).outcome) {
            case EvdevKeyboard::Outcome::keyboard:
                ++survey.found;
                ++survey.readable;
                break;
            case EvdevKeyboard::Outcome::denied: {
                std::ifstream description(options.sysfs / name / "device/capabilities/key");
                const std::string keys{std::istreambuf_iterator<char>(description), {}};
                if (!description.is_open() || EvdevKeyboard::keyCapabilitiesHaveModifier(keys)) {
                    ++survey.found;
                }
                break;
            }
            case EvdevKeyboard::Outcome::notKeyboard:
            case EvdevKeyboard::Outcome::failed:
                break;
        }
    }
    return survey;
}

EvdevKeyEventMonitor::EvdevKeyEventMonitor(Options options) : options_(std::move(options)) {
}

EvdevKeyEventMonitor::~EvdevKeyEventMonitor() {
    handlers_.clear();
    stop();
}

bool EvdevKeyEventMonitor::isTrusted() const {
    return inotify_ >= 0 ? !devices_.empty() : survey(options_).readable > 0;
}

std::optional<KeyEventMonitor::MonitorId> EvdevKeyEventMonitor::install(Handler handler) {
    if (!handler || (inotify_ < 0 && !start())) {
        return std::nullopt;
    }
    const MonitorId id = nextId_++;
    handlers_.emplace(id, std::move(handler));
    return id;
}

void EvdevKeyEventMonitor::remove(MonitorId id) {
    if (handlers_.erase(id) != 0 && handlers_.empty()) {
        stop();
    }
}

bool EvdevKeyEventMonitor::start() {
    // Watched before the first scan, so that no keyboard arriving in between is missed.
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) {
        return false;
    }
    if (::inotify_add_watch(inotify_, options_.folder.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM) < 0) {
        ::close(inotify_);
        inotify_ = -1;
        return false;
    }
    folderNotifier_ = {new QSocketNotifier(inotify_, QSocketNotifier::Read), retire};
    QObject::connect(folderNotifier_.get(), &QSocketNotifier::activated, [this] { readFolder(); });
    std::vector<ModifierEvent> ignored;  // nothing is down yet: a scan reports no change
    scan(ignored);
    return true;
}

void EvdevKeyEventMonitor::stop() {
    devices_.clear();
    state_ = ModifierKeyState();
    folderNotifier_.reset();
    if (inotify_ >= 0) {
        ::close(inotify_);
        inotify_ = -1;
    }
}

void EvdevKeyEventMonitor::scan(std::vector<ModifierEvent>& events) {
    const std::vector<std::string> present = eventNodes(options_.folder);
    for (auto it = devices_.begin(); it != devices_.end();) {
        const std::string name = (it++)->first;
        if (std::find(present.begin(), present.end(), name) == present.end()) {
            closeDevice(name, events);
        }
    }
    for (const std::string& name : present) {
        openDevice(name);
    }
}

void EvdevKeyEventMonitor::openDevice(const std::string& name) {
    if (devices_.count(name) != 0) {
        return;
    }
    auto opening = EvdevKeyboard::open(options_.folder / name, options_.acceptRecordStreams);
    if (opening.outcome != EvdevKeyboard::Outcome::keyboard) {
        return;  // a denied device may become readable: IN_ATTRIB brings it back here
    }
    Device device;
    device.id = nextDevice_++;
    device.keyboard = std::move(opening.keyboard);
    device.notifier = {new QSocketNotifier(device.keyboard->fd(), QSocketNotifier::Read), retire};
    QObject::connect(device.notifier.get(), &QSocketNotifier::activated,
                     [this, name] { readDevice(name); });
    // Keys held at opening count from now on; their press happened before and is not news.
    state_.replace(device.id, device.keyboard->downAtOpen());
    devices_.emplace(name, std::move(device));
}

void EvdevKeyEventMonitor::closeDevice(const std::string& name,
                                       std::vector<ModifierEvent>& events) {
    const auto it = devices_.find(name);
    if (it == devices_.end()) {
        return;
    }
    const auto released = state_.remove(it->second.id);
    events.insert(events.end(), released.begin(), released.end());
    devices_.erase(it);
}

void EvdevKeyEventMonitor::readDevice(const std::string& name) {
    const auto it = devices_.find(name);
    if (it == devices_.end()) {
        return;
    }
    std::vector<ModifierEvent> events;
    const Device& device = it->second;
    if (!device.keyboard->read(state_, device.id, events)) {
        closeDevice(name, events);
    }
    deliver(events);
}

void EvdevKeyEventMonitor::readFolder() {
    std::vector<ModifierEvent> events;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t count = ::read(inotify_, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        for (ssize_t offset = 0; offset < count;) {
            inotify_event header{};
            std::memcpy(&header, buffer.data() + offset, sizeof header);
            const std::string name =
                header.len > 0 ? std::string(buffer.data() + offset + sizeof header) : "";
            offset += static_cast<ssize_t>(sizeof header + header.len);
            if ((header.mask & IN_Q_OVERFLOW) != 0) {
                scan(events);
            } else if (!isEventNode(name)) {
                continue;
            } else if ((header.mask & (IN_DELETE | IN_MOVED_FROM)) != 0) {
                closeDevice(name, events);
            } else {
                openDevice(name);
            }
        }
    }
    deliver(events);
}

void EvdevKeyEventMonitor::deliver(const std::vector<ModifierEvent>& events) {
    for (const ModifierEvent& event : events) {
        const auto handlers = handlers_;  // a handler may remove or install monitors
        for (const auto& [id, handler] : handlers) {
            if (handlers_.count(id) != 0) {
                handler(event);
            }
        }
    }
}

}  // namespace sayloft
