#include "core/diagnostics/OsVersion.h"

#include <fstream>
#include <string_view>

#include <sys/utsname.h>

namespace sayloft {
namespace {

// PRETTY_NAME of os-release(5), unquoted; empty when there is none.
std::string distributionName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            constexpr std::string_view key = "PRETTY_NAME=";
            if (!line.starts_with(key)) {
                continue;
            }
            std::string value = line.substr(key.size());
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
            return value;
        }
    }
    return {};
}

}  // namespace

std::string OsVersion::current() {
    std::string kernel;
    utsname names{};
    if (::uname(&names) == 0) {
        kernel = std::string(names.sysname) + " " + names.release + " " + names.machine;
    }
    const std::string distribution = distributionName();
    if (distribution.empty()) {
        return kernel;
    }
    return kernel.empty() ? distribution : distribution + "; " + kernel;
}

}  // namespace sayloft
