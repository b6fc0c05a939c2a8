#include <iostream>
#include <string>
#include <vector>

#include "cli/SayloftCli.h"
#include "core/config/Config.h"
#include "core/l10n/L10n.h"
#include "core/storage/XdgDirs.h"

int main(int argc, char** argv) {
    using namespace sayloft;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const XdgDirs dirs = XdgDirs::current();
    const SayloftCli cli(SayloftCli::Environment{dirs.dataHome, Config::backendURL(), L10n::isZh(),
                                                 dirs.configHome});
    return cli.run(args, std::cout, std::cerr);
}
