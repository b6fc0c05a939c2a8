#pragma once

#include <string>

namespace sayloft {

// The desktop's installer of software packages. Main thread only.
class PackageInstaller {
public:
    virtual ~PackageInstaller() = default;

    // Opens the package file (a .deb) in the application the desktop has for installing such
    // packages. False, doing nothing, when none is set up (a bare window manager session).
    virtual bool open(const std::string& path) = 0;
};

}  // namespace sayloft
