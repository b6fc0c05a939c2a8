#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sayloft {

// Issues and verifies the service's device tokens. A token carries no state on the server: it is
//
//   "sl1." base64url(deviceId[16] || issuedAt[8, big-endian Unix seconds]) "."
//          base64url(HMAC-SHA256(secret, "sl1." + the first base64url text))
//
// (80 characters, no padding), so any replica holding the same secret verifies it. The MAC is
// compared in constant time. Changing the secret invalidates every token issued under the old
// one. Thread-safe: the secret is immutable and the clock and random source are only read.
class TokenAuthority {
public:
    using Secret = std::array<std::uint8_t, 32>;
    using DeviceId = std::array<std::uint8_t, 16>;
    using UnixClock = std::function<std::int64_t()>;  // seconds since the epoch

    struct Claims {
        DeviceId deviceId;
        std::int64_t issuedAt;
        std::string deviceIdHex() const;  // 32 lower-case hex digits, safe for file names
    };

    // maxAgeSeconds 0: tokens never expire. A token issued more than five minutes in the future
    // of `now` (a clock step on another replica) is refused as well.
    TokenAuthority(const Secret& secret, std::int64_t maxAgeSeconds, UnixClock now);

    // A new token for a fresh random device id (OpenSSL's RAND_bytes), issued now.
    std::string issue() const;
    std::string issueFor(const DeviceId& deviceId, std::int64_t issuedAt) const;

    // The claims of a genuine, unexpired token; nullopt for anything else. The MAC is checked
    // before any of the payload is decoded, and the time checks hold for every issue time and
    // clock reading (no overflow).
    std::optional<Claims> verify(std::string_view token) const;

    // The token out of an "Authorization" header value "Bearer <token>" (scheme case-insensitive).
    static std::optional<std::string> bearerToken(std::string_view authorization);

    // The secret kept as 64 hex digits in <dataDir>/token-secret. Created from RAND_bytes with
    // mode 0600 when absent; refused (nullopt, *error says why) when the file is malformed or
    // can be read by group or others.
    static std::optional<Secret> loadOrCreateSecret(const std::filesystem::path& dataDir,
                                                    std::string* error);
    // Replaces the secret with a new random one (atomically, 0600).
    static bool rotateSecret(const std::filesystem::path& dataDir, std::string* error);

    static constexpr std::string_view prefix = "sl1.";
    static constexpr std::string_view secretFileName = "token-secret";

private:
    std::string mac(std::string_view signedText) const;

    Secret secret_;
    std::int64_t maxAgeSeconds_;
    UnixClock now_;
};

}  // namespace sayloft
