#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/Url.h"

namespace sayloft {

// Process-wide constants. Nothing here changes at run time; the service address and the version
// are build settings.
struct Config {
    // The transcription service, from the build setting SAYLOFT_BACKEND_URL. Parsed once on first
    // use (thread-safe); a value that does not parse ends the process with a message, since
    // nothing the application does could work without it. The environment variable of the same
    // name replaces it at run time, but only with an address on this computer (a local service on
    // another port, as the end-to-end test runs one): see chooseBackendURL.
    static const Url& backendURL();

    // The rule behind backendURL. An unset or empty runTime keeps built. A runTime that parses
    // and is a loopback address (localhost, 127.0.0.0/8, ::1) replaces it, so that the variable
    // can never send recordings or the token off the machine; any other value is ignored and
    // *notice (when given) says why, in one line.
    static Url chooseBackendURL(const Url& built, const char* runTime, std::string* notice);

    // The version the build embeds, or "dev" for a build that embeds none.
    static const std::string& appVersion();

    // The rule behind appVersion: an empty embedded version reads as "dev".
    static std::string versionOrDev(std::string_view embedded);

    static constexpr double minDuration = 0.4;        // seconds; shorter recordings are skipped
    static constexpr double minRMS = 150.0;           // 16-bit sample units; quieter is skipped
    static constexpr double maxRecordSeconds = 60.0;  // the recorder stops itself past this
    static constexpr double sampleRate = 16000.0;     // Hz, of everything recorded and uploaded
    static constexpr double requestTimeout = 20.0;    // seconds without data before a request fails

    // Phrases a recogniser produces on silence or noise (subtitle credits, sign-offs, channel
    // names). Compared case-insensitively as substrings of short transcripts.
    static constexpr std::array<std::string_view, 12> blacklist = {
        "字幕志愿者", "柯远帆",   "字幕由",   "amara.org", "字幕组",     "中文字幕",
        "请不吝点赞", "点赞订阅", "谢谢观看", "感谢观看",  "明镜与点点", "優優独播剧场",
    };
    // Transcripts of this many user-perceived characters or more are never discarded.
    static constexpr std::int64_t blacklistMaxLen = 30;
};

}  // namespace sayloft
