#pragma once

#include <string>

#include "platform/PackageInstaller.h"

namespace sayloft {

// Opens a .deb with the desktop's handler for Debian packages (GNOME Software, Discover, ...),
// as registered in the XDG MIME database. `xdg-mime query default` tells whether there is one;
// a bare window manager session (sway) usually has none. Main thread only.
class QtPackageInstaller final : public PackageInstaller {
public:
    bool open(const std::string& path) override;
};

}  // namespace sayloft
