#pragma once

#include <string_view>

namespace sayloft {

// Release versions as the update feed and the build state them: one to eight components of one
// to nine ASCII digits, separated by dots ("1.4.10"). Nothing else is a version: a feed's version
// also goes into a file name, so letters, signs and slashes are refused outright.
struct UpdateVersion {
    static bool isValid(std::string_view text);

    // Compares two valid versions component by component as numbers, a missing component
    // counting as 0: "1.10" > "1.9", "1.2" == "1.2.0". Negative, zero or positive like strcmp.
    // An invalid argument compares below every valid version and equal to other invalid ones.
    static int compare(std::string_view a, std::string_view b);
};

}  // namespace sayloft
