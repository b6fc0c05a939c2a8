#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sayloft {

// `sayloft-cli hotkey press|release`: one call to the running Sayloft over the session bus (its
// name org.sayloft.Sayloft), with the login's cookie and the monotonic time this process
// started, bounded by a short time-out so that a key binding never hangs.
struct HotkeyCall {
    // nullopt when Sayloft took the call; otherwise what went wrong, in one line.
    static std::optional<std::string> send(bool press, const std::string& cookie,
                                           std::int64_t sentAt);
};

}  // namespace sayloft
