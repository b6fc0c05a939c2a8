#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sayloft {

// Chooses, once per process, whether texts are shown in English or Chinese. A build may fix the
// choice with a "default_lang" file ("zh" or "en") in the data folder; otherwise the first of the
// user's preferred languages decides.
class L10n {
public:
    using GetEnv = std::function<const char*(const char*)>;

    // "zh" or "en", decided on first use from the real environment (thread-safe), then fixed.
    static const std::string& lang();
    static bool isZh() { return lang() == "zh"; }

    // The decision itself. resource is the content of "default_lang" when one was found and read
    // as UTF-8; it counts only when, trimmed of outer white space, it is exactly "zh" or "en".
    // Otherwise a first preferred language beginning with "zh" chooses Chinese.
    static std::string decide(const std::optional<std::string>& resource,
                              const std::vector<std::string>& preferredLanguages);

    // The user's preferred languages: LANGUAGE as a colon-separated list, else the first
    // non-empty of LC_ALL, LC_MESSAGES and LANG as a list of one. Empty entries are dropped.
    static std::vector<std::string> preferredLanguages(const GetEnv& getenv);

    // Where "default_lang" is looked for, first match wins: the installed data folder
    // (<executable dir>/../share/sayloft) and the executable's own folder.
    static std::vector<std::filesystem::path> resourceCandidates(
        const std::filesystem::path& executableDir);

    // The content of the first candidate that exists; nullopt when none exists or the one found
    // cannot be read as UTF-8 (a later candidate is not consulted then).
    static std::optional<std::string> readResource(
        const std::vector<std::filesystem::path>& candidates);
};

}  // namespace sayloft
