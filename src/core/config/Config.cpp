#include "core/config/Config.h"

#include <cstdio>
#include <cstdlib>

#include "core/config/BuildInfo.h"

namespace sayloft {

const Url& Config::backendURL() {
    static const Url url = [] {
        auto parsed = Url::parse(SAYLOFT_EMBEDDED_BACKEND_URL);
        if (!parsed) {
            std::fprintf(stderr,
                         "sayloft: the built-in service address '%s' is not a valid base URL; "
                         "rebuild with -DSAYLOFT_BACKEND_URL=https://host[:port]\n",
                         SAYLOFT_EMBEDDED_BACKEND_URL);
            std::abort();
        }
        std::string notice;
        Url chosen = chooseBackendURL(*parsed, std::getenv("SAYLOFT_BACKEND_URL"), &notice);
        if (!notice.empty()) {
            std::fprintf(stderr, "%s\n", notice.c_str());
        }
        return chosen;
    }();
    return url;
}

Url Config::chooseBackendURL(const Url& built, const char* runTime, std::string* notice) {
    if (runTime == nullptr || *runTime == '\0') {
        return built;
    }
    const auto parsed = Url::parse(runTime);
    std::string reason;
    if (!parsed) {
        reason = "it is not a base URL such as http://127.0.0.1:8177";
    } else if (!parsed->isLoopback()) {
        reason =
            "only an address on this computer (localhost, 127.x.x.x, ::1) may replace the "
            "built-in one";
    } else {
        return *parsed;
    }
    if (notice != nullptr) {
        *notice = "sayloft: ignoring SAYLOFT_BACKEND_URL='" + std::string(runTime) +
                  "': " + reason + "; using " + built.text();
    }
    return built;
}

std::string Config::versionOrDev(std::string_view embedded) {
    return embedded.empty() ? std::string("dev") : std::string(embedded);
}

const std::string& Config::appVersion() {
    static const std::string version = versionOrDev(SAYLOFT_EMBEDDED_VERSION);
    return version;
}

}  // namespace sayloft
