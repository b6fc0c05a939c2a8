#pragma once

#include "core/diagnostics/SafeToReport.h"

namespace sayloft {

// Thrown, and never caught, to end the process the way a real crash would, so that crash
// reporting can be tried end to end ("sayloft --crashtest").
class DeliberateCrash final : public SafeToReport {
public:
    static constexpr const char* crashTestReason = "crashtest: deliberate crash";

    DeliberateCrash() : SafeToReport(crashTestReason) {}
};

}  // namespace sayloft
