#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sayloft {

// The per-login secret that lets `sayloft-cli hotkey press|release` (run by a compositor key
// binding) report the hotkey to the running Sayloft over the session bus: Sayloft writes a fresh
// cookie at start into a folder of $XDG_RUNTIME_DIR that only the user can enter, and accepts a
// call only when it carries the same text. Another user's process can neither read it nor reach
// the user's session bus; the cookie keeps out whatever else on that bus was not started by
// the user.
struct HotkeyCookie {
    // <runtimeDir>/sayloft/hotkey-cookie; empty when runtimeDir is empty.
    static std::filesystem::path location(const std::filesystem::path& runtimeDir);

    // Writes a new cookie (64 hex digits from the system's random source) to path, the folder
    // created 0700 and the file 0600 before any byte is written, replacing an earlier one
    // atomically. nullopt when it cannot be written (or the folder is open to others).
    static std::optional<std::string> create(const std::filesystem::path& path);

    // The stored cookie; nullopt when absent, unreadable or not a cookie.
    static std::optional<std::string> read(const std::filesystem::path& path);

    // Compares in constant time for equal lengths, so a caller cannot find the cookie byte by
    // byte from the time a refusal takes.
    static bool matches(std::string_view given, std::string_view expected);
};

}  // namespace sayloft
