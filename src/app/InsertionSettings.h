#pragma once

#include "platform/UserDefaults.h"

namespace sayloft {

// How a transcript is put at the cursor, stored in the user defaults: by typing instead of
// pasting ("insertByTyping", off when absent or not a boolean) and with a space after it
// ("addSpaceAfterText", off when absent or not a boolean). Written by the menu, read by the
// text inserter at every insertion, so a change applies from the next dictation on.
struct InsertionSettings {
    static constexpr const char* byTypingKey = "insertByTyping";
    static constexpr const char* spaceAfterKey = "addSpaceAfterText";

    static bool byTyping(const UserDefaults& defaults) {
        return defaults.boolean(byTypingKey).value_or(false);
    }
    static bool spaceAfter(const UserDefaults& defaults) {
        return defaults.boolean(spaceAfterKey).value_or(false);
    }
};

}  // namespace sayloft
