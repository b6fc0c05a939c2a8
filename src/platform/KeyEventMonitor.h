#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "platform/ModifierEvent.h"

namespace sayloft {

// Watches modifier-key changes system-wide without grabbing them: every other application still
// receives its keys. Main thread only.
class KeyEventMonitor {
public:
    using Handler = std::function<void(const ModifierEvent&)>;
    using MonitorId = std::uint64_t;

    virtual ~KeyEventMonitor() = default;

    // Whether the desktop lets this process watch the keyboard and synthesise input (on X11: a
    // display with the XInput 2 and XTEST extensions).
    virtual bool isTrusted() const = 0;

    // Installs a global monitor; handler then runs on the main thread for every modifier change
    // delivered to any other window. nullopt when no monitor could be installed.
    virtual std::optional<MonitorId> install(Handler handler) = 0;

    // Removes a monitor install() returned; the handler is not called afterwards. Unknown or
    // already removed ids are ignored.
    virtual void remove(MonitorId id) = 0;
};

}  // namespace sayloft
