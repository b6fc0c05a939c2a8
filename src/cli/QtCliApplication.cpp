#include "cli/QtCliApplication.h"

#include <QCoreApplication>

namespace sayloft {

std::unique_ptr<QCoreApplication> QtCliApplication::ensure() {
    if (QCoreApplication::instance() != nullptr) {
        return nullptr;
    }
    static int argc = 1;
    static char name[] = "sayloft-cli";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

}  // namespace sayloft
