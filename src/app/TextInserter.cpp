#include "app/TextInserter.h"

#include <utility>

#include "app/InsertionSettings.h"
#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"

namespace sayloft {

TextInserter::TextInserter(UserDefaults& defaults, Pasteboard& pasteboard, KeyboardEvents& keyboard,
                           Pause pause)
    : defaults_(defaults), pasteboard_(pasteboard), keyboard_(keyboard), pause_(std::move(pause)) {
}

void TextInserter::insert(std::string text) {
    mainThread_.assertMainThread();
    if (InsertionSettings::spaceAfter(defaults_) && UnicodeText::wantsSpaceAfter(text)) {
        text.push_back(' ');
    }
    if (InsertionSettings::byTyping(defaults_) || !pasteboard_.canSetText()) {
        type(text);
    } else {
        paste(text);
    }
}

void TextInserter::paste(const std::string& text) {
    pasteboard_.setText(text);
    keyboard_.post(KeyStroke{insertKey, true, ModifierFlag::shift, {}});
    keyboard_.post(KeyStroke{insertKey, false, ModifierFlag::shift, {}});
}

void TextInserter::type(const std::string& text) {
    for (const auto& piece : UnicodeText::graphemeChunks(text, charactersPerEvent)) {
        keyboard_.post(KeyStroke{carrierKey, true, 0, UnicodeText::toUtf16(piece)});
        keyboard_.post(KeyStroke{carrierKey, false, 0, {}});
        if (pause_) {
            pause_(pauseAfterPiece);
        }
    }
}

}  // namespace sayloft
