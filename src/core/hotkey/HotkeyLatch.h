#pragma once

#include <optional>

namespace sayloft {

// Turns raw key-is-down / key-is-up observations of the hotkey into hold-to-talk actions.
// Times are monotonic seconds (RunLoop::ticks) as the caller passes them, so that setting the
// system time neither ends nor prolongs a hold. Not thread-safe: the owner drives it from one
// thread.
class HotkeyLatch {
public:
    enum class Action { none, press, release, timeout };

    explicit HotkeyLatch(double maxHoldSeconds) : maxHoldSeconds_(maxHoldSeconds) {}

    bool isDown() const { return downAt_.has_value(); }

    // up+down -> press (remembers now); down+up -> release; repeated states -> none.
    Action update(bool isDown, double now);

    // A hold longer than maxHoldSeconds (strictly) is forgotten and reported as timeout. A clock
    // that went backwards (negative or NaN elapsed time) never times out.
    Action checkTimeout(double now);

    // Ends a hold whose key-up may never come (after a wake or unlock). Reports timeout, not
    // release: the recording of a forced end is thrown away, never sent.
    Action forceRelease();

private:
    std::optional<double> downAt_;
    double maxHoldSeconds_;
};

}  // namespace sayloft
