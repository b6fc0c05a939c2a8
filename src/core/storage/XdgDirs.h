#pragma once

#include <filesystem>
#include <functional>

namespace sayloft {

// The XDG base directories of the current user. A variable that is unset, empty or not an
// absolute path falls back to its default under the home directory ($HOME, else the password
// database).
struct XdgDirs {
    using GetEnv = std::function<const char*(const char*)>;

    std::filesystem::path dataHome;    // $XDG_DATA_HOME or ~/.local/share
    std::filesystem::path stateHome;   // $XDG_STATE_HOME or ~/.local/state
    std::filesystem::path configHome;  // $XDG_CONFIG_HOME or ~/.config
    // $XDG_RUNTIME_DIR: private to the user and gone at logout. Empty when unset or not absolute
    // (it has no default: a made-up folder would not be private).
    std::filesystem::path runtimeDir;
    std::filesystem::path cacheHome{};  // $XDG_CACHE_HOME or ~/.cache

    static XdgDirs fromEnvironment(const GetEnv& getenv);
    static XdgDirs current();
};

}  // namespace sayloft
