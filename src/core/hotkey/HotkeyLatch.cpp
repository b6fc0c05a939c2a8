#include "core/hotkey/HotkeyLatch.h"

namespace sayloft {

HotkeyLatch::Action HotkeyLatch::update(bool isDown, double now) {
    if (!downAt_) {
        if (!isDown) {
            return Action::none;
        }
        downAt_ = now;
        return Action::press;
    }
    if (isDown) {
        return Action::none;
    }
    downAt_.reset();
    return Action::release;
}

HotkeyLatch::Action HotkeyLatch::checkTimeout(double now) {
    if (!downAt_) {
        return Action::none;
    }
    const double elapsed = now - *downAt_;
    // Written so that NaN compares false and keeps the latch down.
    if (maxHoldSeconds_ < elapsed) {
        downAt_.reset();
        return Action::timeout;
    }
    return Action::none;
}

HotkeyLatch::Action HotkeyLatch::forceRelease() {
    if (!downAt_) {
        return Action::none;
    }
    downAt_.reset();
    return Action::timeout;
}

}  // namespace sayloft
