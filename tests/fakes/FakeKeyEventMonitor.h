#pragma once

#include <map>
#include <optional>

#include "platform/KeyEventMonitor.h"

namespace sayloft::test {

// Records installs and removals; press()/release() deliver a modifier change to every
// installed monitor, as the desktop would on the main thread.
class FakeKeyEventMonitor final : public KeyEventMonitor {
public:
    bool trusted = true;
    bool refuseInstall = false;  // install() returns nullopt even when trusted
    int installs = 0;
    int removals = 0;

    bool isTrusted() const override { return trusted; }

    std::optional<MonitorId> install(Handler handler) override {
        ++installs;
        if (refuseInstall) {
            return std::nullopt;
        }
        const MonitorId id = nextId_++;
        handlers_[id] = std::move(handler);
        return id;
    }

    void remove(MonitorId id) override {
        if (handlers_.erase(id) > 0) {
            ++removals;
        }
    }

    std::size_t installed() const { return handlers_.size(); }

    // A modifier change: the key that changed and every flag held afterwards.
    void send(std::uint16_t keyCode, std::uint64_t flags) {
        const auto handlers = handlers_;  // a handler may reinstall
        for (const auto& [id, handler] : handlers) {
            handler(ModifierEvent{keyCode, flags});
        }
    }

private:
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
};

}  // namespace sayloft::test
