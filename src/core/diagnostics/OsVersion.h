#pragma once

#include <string>

namespace sayloft {

// The operating system in one human-readable line, sent with crash reports: the distribution's
// name from os-release (when there is one), then the kernel's name, release and machine from
// uname, e.g. "Debian GNU/Linux 12 (bookworm); Linux 6.1.0-18-amd64 x86_64". Never the host
// name or anything else of the user.
struct OsVersion {
    static std::string current();
};

}  // namespace sayloft
