#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace sayloft {

// The keysyms a keyboard layout can produce, at any shift level: what a remote-desktop portal
// can type, since the compositor looks each keysym up in the session's layout and drops the
// ones it does not find.
struct LayoutKeysyms {
    // The keysyms of an xkb layout and variant (layout "us" when empty).
    static std::set<std::uint32_t> of(const std::string& layout, const std::string& variant);

    // The keysyms of this session's layout: $XKB_DEFAULT_LAYOUT and $XKB_DEFAULT_VARIANT when
    // set, else XKBLAYOUT and XKBVARIANT of the system's keyboard file (Debian's
    // /etc/default/keyboard), else "us". A desktop whose layout was changed only in its own
    // settings may produce more (or fewer) than this: the first layout of the list counts.
    static std::set<std::uint32_t> ofThisSession(
        const std::filesystem::path& keyboardFile = "/etc/default/keyboard");
};

}  // namespace sayloft
