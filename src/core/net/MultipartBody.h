#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sayloft {

// The multipart/form-data bodies the service client uploads, byte for byte. Names and values
// are inserted as they stand, without quoting or escaping; the random boundary keeps them apart.
struct MultipartBody {
    // "wordcast-" followed by a new random UUID in upper-case text: 45 characters.
    static std::string newBoundary();

    // The transcription body: the file part "file" ("a.wav", audio/wav) holding the WAV bytes,
    // then the text part "app_version", then the closing delimiter and one CRLF.
    static std::string transcription(std::string_view boundary, std::span<const std::uint8_t> wav,
                                     std::string_view appVersion);

    // The crash upload body: the file part "file" ("crash.ips", application/octet-stream)
    // holding the report, then the text fields "app_version", "os_version" and "platform", then
    // the closing delimiter and one CRLF.
    static std::string crashReport(std::string_view boundary, std::span<const std::uint8_t> report,
                                   std::string_view appVersion, std::string_view osVersion,
                                   std::string_view platform);

    // The Content-Type header value for a body with this boundary.
    static std::string contentType(std::string_view boundary);
};

}  // namespace sayloft
