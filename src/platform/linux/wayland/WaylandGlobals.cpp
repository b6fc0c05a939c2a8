#include "platform/linux/wayland/WaylandGlobals.h"

#include <algorithm>

#include <wayland-client.h>

namespace sayloft {
namespace {

using Globals = std::map<std::string, std::uint32_t>;

void onGlobal(void* data, wl_registry*, std::uint32_t, const char* interface,
              std::uint32_t version) {
    auto& globals = *static_cast<Globals*>(data);
    auto& known = globals[interface];
    known = std::max(known, version);
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {
}

constexpr wl_registry_listener registryListener{onGlobal, onGlobalRemove};

}  // namespace

std::optional<Globals> WaylandGlobals::probe(const char* displayName) {
    wl_display* display = wl_display_connect(displayName);
    if (display == nullptr) {
        return std::nullopt;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool ok = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!ok) {
        return std::nullopt;
    }
    return globals;
}

}  // namespace sayloft
