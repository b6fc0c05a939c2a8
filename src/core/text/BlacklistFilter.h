#pragma once

#include <string>
#include <string_view>

namespace sayloft {

// The last step between the service's answer and the text insertion. A short transcript (fewer
// than Config::blacklistMaxLen user-perceived characters after trimming) that contains a junk
// phrase of Config::blacklist, compared case-insensitively, is dropped whole; any other transcript
// is only trimmed of outer white space. An empty result means there is nothing to insert.
struct BlacklistFilter {
    static std::string clean(std::string_view text);
};

}  // namespace sayloft
