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
        return *std::move(parsed);
    }();
    return url;
}

std::string Config::versionOrDev(std::string_view embedded) {
    return embedded.empty() ? std::string("dev") : std::string(embedded);
}

const std::string& Config::appVersion() {
    static const std::string version = versionOrDev(SAYLOFT_EMBEDDED_VERSION);
    return version;
}

}  // namespace sayloft
