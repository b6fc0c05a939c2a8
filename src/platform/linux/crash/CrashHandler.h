#pragma once

#include <filesystem>
#include <string>

namespace sayloft {

// Writes one crash report when the process dies of a fatal signal (SIGSEGV, SIGBUS, SIGILL,
// SIGFPE, SIGABRT) or of an uncaught C++ exception, then lets it die as it would have: the same
// signal with its default action (SIGABRT after an uncaught exception), so the exit status still
// tells how it ended.
//
// The report is "<folder>/<appName>-<YYYY-MM-DD-HHMMSS, UTC>.ips", mode 0600: a one-line JSON
// header (app_name, app_version, os_version, then signal, or exception_type and for a
// SafeToReport its exception_reason, then timestamp), then the stack, one frame a line, each
// object named by its file name alone. It holds no user data: no exception message other than a
// SafeToReport's, no environment, no path. One crash gives one report, also when an uncaught
// exception's abort raises SIGABRT or several threads crash at once.
//
// The signal handler makes only async-signal-safe calls: everything else (the folder, the
// header's fixed part, the stack unwinder's library) is prepared by install.
class CrashHandler {
public:
    struct Identity {
        std::string appName;  // the report name's prefix, as CrashReporter looks for it
        std::string appVersion;
        std::string osVersion;
    };

    static constexpr int maxFrames = 64;

    // Installs the handlers for the whole process. Call it first thing in main, on the main
    // thread: that thread gets an alternate signal stack, so that its stack overflowing is
    // reported too (another thread's overflow ends the process without a report). Creates the
    // folder (0700) when missing. false, with nothing installed, when the folder cannot be
    // created or its path is too long. Installing again replaces the folder and identity.
    static bool install(const std::filesystem::path& folder, const Identity& identity);
};

}  // namespace sayloft
