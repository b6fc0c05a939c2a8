#include "core/l10n/L10n.h"

#include <cstdlib>
#include <system_error>

#include "core/storage/FileIo.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

std::filesystem::path executableDir() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : exe.parent_path();
}

}  // namespace

const std::string& L10n::lang() {
    static const std::string chosen = [] {
        const auto dir = executableDir();
        const auto resource = dir.empty() ? std::nullopt : readResource(resourceCandidates(dir));
        return decide(resource,
                      preferredLanguages([](const char* name) { return std::getenv(name); }));
    }();
    return chosen;
}

std::string L10n::decide(const std::optional<std::string>& resource,
                         const std::vector<std::string>& preferredLanguages) {
    if (resource) {
        const std::string value = UnicodeText::trim(*resource);
        if (value == "zh" || value == "en") {
            return value;
        }
    }
    if (!preferredLanguages.empty() && preferredLanguages.front().starts_with("zh")) {
        return "zh";
    }
    return "en";
}

std::vector<std::string> L10n::preferredLanguages(const GetEnv& getenv) {
    std::vector<std::string> languages;
    if (const char* list = getenv("LANGUAGE"); list != nullptr) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const auto entry = rest.substr(0, colon);
            if (!entry.empty()) {
                languages.emplace_back(entry);
            }
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
        if (!languages.empty()) {
            return languages;
        }
    }
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = getenv(name);
        if (value != nullptr && *value != '\0') {
            return {value};
        }
    }
    return languages;
}

std::vector<std::filesystem::path> L10n::resourceCandidates(
    const std::filesystem::path& executableDir) {
    return {executableDir / ".." / "share" / "sayloft" / "default_lang",
            executableDir / "default_lang"};
}

std::optional<std::string> L10n::readResource(
    const std::vector<std::filesystem::path>& candidates) {
    for (const auto& candidate : candidates) {
        std::error_code error;
        if (!std::filesystem::exists(candidate, error)) {
            continue;
        }
        auto content = FileIo::read(candidate);
        if (!content || !UnicodeText::isValidUtf8(*content)) {
            return std::nullopt;
        }
        return content;
    }
    return std::nullopt;
}

}  // namespace sayloft
