#include "core/text/BlacklistFilter.h"

#include <array>

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "core/config/Config.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

// Unicode lower case with the root locale: the same mapping whatever the user's locale (no
// Turkish dotless i surprises).
icu::UnicodeString lowerCase(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    text.toLower(icu::Locale::getRoot());
    return text;
}

const std::array<icu::UnicodeString, Config::blacklist.size()>& lowerCasePhrases() {
    static const auto phrases = [] {
        std::array<icu::UnicodeString, Config::blacklist.size()> lowered;
        for (std::size_t i = 0; i < Config::blacklist.size(); ++i) {
            lowered[i] = lowerCase(Config::blacklist[i]);
        }
        return lowered;
    }();
    return phrases;
}

}  // namespace

std::string BlacklistFilter::clean(std::string_view text) {
    std::string trimmed = UnicodeText::trim(text);
    if (trimmed.empty() || UnicodeText::graphemeCount(trimmed) >= Config::blacklistMaxLen) {
        return trimmed;
    }
    const icu::UnicodeString lowered = lowerCase(trimmed);
    for (const icu::UnicodeString& phrase : lowerCasePhrases()) {
        if (lowered.indexOf(phrase) >= 0) {
            return {};
        }
    }
    return trimmed;
}

}  // namespace sayloft
