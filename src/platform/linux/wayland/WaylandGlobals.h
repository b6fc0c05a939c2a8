#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sayloft {

// What a Wayland compositor offers, for choosing backends and for `sayloft-cli doctor`.
class WaylandGlobals {
public:
    // Connects to displayName (nullptr: $WAYLAND_DISPLAY, else "wayland-0", as libwayland
    // does), reads the registry once and disconnects. Returns every advertised interface name
    // with its highest advertised version; nullopt when no connection could be made. Blocks
    // for one round trip; any thread.
    static std::optional<std::map<std::string, std::uint32_t>> probe(
        const char* displayName = nullptr);
};

}  // namespace sayloft
