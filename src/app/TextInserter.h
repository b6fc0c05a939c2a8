#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/MainThreadChecker.h"
#include "platform/KeyboardEvents.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// Puts a transcript at the cursor of the focused application, by paste (the default) or, when
// the setting "insertByTyping" is true or the session has no clipboard this program can set, by
// synthesised typing; with "addSpaceAfterText" on, a
// space follows a text of a script written with spaces between words (UnicodeText::
// wantsSpaceAfter), so that the next dictation does not run into it. The settings
// (InsertionSettings) are read at every insertion. Nothing is reported back.
class TextInserter {
public:
    // Blocks the main thread for the given time; the pause after each typed piece lets the
    // receiving application keep up. Real one: std::this_thread::sleep_for.
    using Pause = std::function<void(std::chrono::microseconds)>;

    static constexpr std::size_t charactersPerEvent = 20;
    static constexpr std::chrono::microseconds pauseAfterPiece{8000};
    // The paste chord, Shift+Insert: terminals (xterm among them) paste the primary selection on
    // it and every toolkit's text field the clipboard, where Ctrl+V or Ctrl+Shift+V would send a
    // control character to some of them. The pasteboard offers the text as both selections.
    static constexpr std::uint16_t insertKey = 114;  // the Insert (Help) position
    static constexpr std::uint16_t carrierKey = 0;   // the key that carries typed text

    TextInserter(UserDefaults& defaults, Pasteboard& pasteboard, KeyboardEvents& keyboard,
                 Pause pause);

    // Main thread only (asserted). Inserts at once, with the space of the setting appended. Paste
    // replaces the clipboard and the primary selection with the text for good (the previous content
    // is not restored) and posts Shift+Insert right after. Typing posts the text in pieces of 20
    // user-perceived characters: each a key-down carrying the piece and a key-up carrying nothing,
    // followed by an 8 ms pause.
    void insert(std::string text);

private:
    void paste(const std::string& text);
    void type(const std::string& text);

    UserDefaults& defaults_;
    Pasteboard& pasteboard_;
    KeyboardEvents& keyboard_;
    Pause pause_;
    MainThreadChecker mainThread_;
};

}  // namespace sayloft
