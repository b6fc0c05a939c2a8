#pragma once

#include <cstdint>
#include <string>

namespace sayloft {

// One release announced by the update feed: an RSS item with an enclosure.
struct AppcastItem {
    std::string version{};         // sparkle:version: compared with the running version and signed
    std::string displayVersion{};  // sparkle:shortVersionString, else the version
    std::string packageUrl{};      // the enclosure's url
    std::uint64_t length = 0;      // the enclosure's length: the package's exact size in bytes
    std::string signature{};       // sparkle:edSignature: base64 of the Ed25519 signature
    std::string notesUrl{};        // sparkle:releaseNotesLink, else the item's link; may be empty
};

}  // namespace sayloft
