#pragma once

#include <memory>

class QCoreApplication;

namespace sayloft {

// QtDBus wants an application object and the CLI has none of its own: one for the length of a
// command, or nothing when one exists already (the tests run the CLI inside their own).
struct QtCliApplication {
    static std::unique_ptr<QCoreApplication> ensure();
};

}  // namespace sayloft
