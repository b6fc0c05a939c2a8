#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "core/config/Url.h"
#include "core/model/APIError.h"
#include "core/net/ServiceEndpoint.h"

namespace sayloft {

class KeychainStore;

// sayloft-cli: the service client without the desktop. Transcribes a WAV file, pings the
// service, registers for a token, records the consent to send recordings, checks the desktop.
// Writes results on `out` and diagnostics on `err`.
class SayloftCli {
public:
    enum ExitCode : int {
        ok = 0,
        otherFailure = 1,
        usage = 2,
        badInput = 3,
        noToken = 4,
        tokenNotStored = 5,
        firstAPIError = 10,  // + the APIError's position: network 10 ... badResponse 15
    };

    struct Environment {
        std::filesystem::path dataHome;      // where the token is kept ($XDG_DATA_HOME)
        Url defaultService;                  // Config::backendURL() in the real program
        bool chinese = false;                // language of the failure notices
        std::filesystem::path configHome{};  // where the settings are kept ($XDG_CONFIG_HOME)
        // where Sayloft leaves the hotkey cookie, and where the user's own service listens
        std::filesystem::path runtimeDir{};
        std::int64_t startedAt = 0;  // CLOCK_MONOTONIC at the program's start, in ns
    };

    // The settings key of the consent to send recordings, as the application reads it.
    static constexpr const char* consentKey = "dataExportConsent_v1";

    explicit SayloftCli(Environment environment);

    // Runs one command line (without the program name) and returns the exit status.
    int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) const;

    static int exitCodeFor(APIError error);

private:
    int transcribe(const CliOptions& options, const ServiceEndpoint& endpoint, std::ostream& out,
                   std::ostream& err) const;
    int ping(const ServiceEndpoint& endpoint, std::ostream& out, std::ostream& err) const;
    // invite: empty, or the code passed with --invite.
    int registerDevice(const ServiceEndpoint& endpoint, const std::string& invite,
                       std::ostream& out, std::ostream& err) const;
    int doctor(const ServiceEndpoint& endpoint, std::ostream& out) const;
    int consent(const Url& service, std::ostream& out, std::ostream& err) const;
    int hotkey(bool press, std::ostream& err) const;
    int hotkeyName(std::ostream& out) const;
    int setToken(const std::string& token, std::ostream& out, std::ostream& err) const;
    int storeToken(const KeychainStore& store, const std::string& token, std::ostream& out,
                   std::ostream& err) const;
    int words(const CliOptions& options, std::ostream& out, std::ostream& err) const;
    int reportFailure(CliOptions::Command command, APIError error, std::ostream& err) const;

    Environment environment_;
};

}  // namespace sayloft
