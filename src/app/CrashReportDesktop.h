#pragma once

#include <filesystem>
#include <string>

#include "app/CrashUploader.h"

namespace sayloft {

// What the crash report step needs of the system: where the crash handler writes, the operating
// system's version text sent with each report, and the uploader. With no uploader nothing is
// sent; with no folder nothing is found (the step then does nothing at all).
struct CrashReportDesktop {
    std::filesystem::path directory{};
    std::string osVersion{};
    // Must outlive the BackgroundTasks runner, whose upload task uses it.
    CrashUploader* uploader = nullptr;
};

}  // namespace sayloft
