#include "app/TextInserter.h"

#include <utility>

#include "app/InsertionSettings.h"
#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"

namespace sayloft {

TextInserter::TextInserter(RunLoop& runLoop, UserDefaults& defaults, Pasteboard& pasteboard,
                           KeyboardEvents& keyboard, Pause pause)
    : runLoop_(runLoop),
      defaults_(defaults),
      pasteboard_(pasteboard),
      keyboard_(keyboard),
      pause_(std::move(pause)) {
}

void TextInserter::insert(std::string text) {
    std::weak_ptr<TextInserter*> weak = self_;
    runLoop_.post([weak, text = std::move(text)]() mutable {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        TextInserter& inserter = **self;
        if (InsertionSettings::spaceAfter(inserter.defaults_) &&
            UnicodeText::wantsSpaceAfter(text)) {
            text.push_back(' ');
        }
        if (InsertionSettings::byTyping(inserter.defaults_) || !inserter.pasteboard_.canSetText()) {
            inserter.type(text);
        } else {
            inserter.paste(text);
        }
    });
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
