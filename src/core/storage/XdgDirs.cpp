#include "core/storage/XdgDirs.h"

#include <cstdlib>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace sayloft {
namespace {

std::filesystem::path homeDirectory(const XdgDirs::GetEnv& getenv) {
    if (const char* home = getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

std::filesystem::path baseDir(const XdgDirs::GetEnv& getenv, const char* variable,
                              const std::filesystem::path& fallback) {
    if (const char* value = getenv(variable); value != nullptr && value[0] == '/') {
        return value;
    }
    return fallback;
}

}  // namespace

XdgDirs XdgDirs::fromEnvironment(const GetEnv& getenv) {
    const auto home = homeDirectory(getenv);
    return XdgDirs{
        .dataHome = baseDir(getenv, "XDG_DATA_HOME", home / ".local" / "share"),
        .stateHome = baseDir(getenv, "XDG_STATE_HOME", home / ".local" / "state"),
        .configHome = baseDir(getenv, "XDG_CONFIG_HOME", home / ".config"),
        .runtimeDir = baseDir(getenv, "XDG_RUNTIME_DIR", {}),
        .cacheHome = baseDir(getenv, "XDG_CACHE_HOME", home / ".cache"),
    };
}

XdgDirs XdgDirs::current() {
    return fromEnvironment([](const char* name) { return std::getenv(name); });
}

}  // namespace sayloft
