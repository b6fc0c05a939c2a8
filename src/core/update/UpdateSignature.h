#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sayloft {

// The release signature. A release is signed with Ed25519 over this message:
//
//     the version text (sparkle:version, ASCII), one NUL byte, then the package's bytes
//
// so that a signed package cannot be announced under another version (a downgrade replayed as
// an upgrade). The signature goes into the feed as base64 (sparkle:edSignature); the public key
// is built in as base64 of its 32 raw bytes (scripts/sign-update prints both).
struct UpdateSignature {
    static std::string message(std::string_view version, std::string_view package);

    // True when signatureBase64 decodes to a 64-byte Ed25519 signature of message(version,
    // package) under publicKeyBase64 (32 raw bytes). Anything malformed is false.
    static bool verify(std::string_view publicKeyBase64, std::string_view version,
                       std::string_view package, std::string_view signatureBase64);

    // Strict base64 (RFC 4648, with padding, no white space); nullopt for anything else.
    static std::optional<std::string> decodeBase64(std::string_view text);
};

}  // namespace sayloft
