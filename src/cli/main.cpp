#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "cli/SayloftCli.h"
#include "core/config/Config.h"
#include "core/l10n/L10n.h"
#include "core/storage/XdgDirs.h"

int main(int argc, char** argv) {
    using namespace sayloft;
    // First of all: `hotkey press|release` reports when this process started, which orders a
    // press and a release that a key binding started one after the other.
    const auto startedAt = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const XdgDirs dirs = XdgDirs::current();
    const SayloftCli cli(SayloftCli::Environment{dirs.dataHome, Config::backendURL(), L10n::isZh(),
                                                 dirs.configHome, dirs.runtimeDir, startedAt});
    return cli.run(args, std::cout, std::cerr);
}
