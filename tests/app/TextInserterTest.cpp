#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/TextInserter.h"
#include "core/text/UnicodeText.h"
#include "fakes/FakeDesktop.h"
#include "platform/ModifierEvent.h"

namespace sayloft::test {
namespace {

class TextInserterTest : public ::testing::Test {
protected:
    TextInserterTest() {
        keyboard.onPost = [this](const KeyStroke& stroke) {
            if (stroke.down && stroke.virtualKey == TextInserter::carrierKey) {
                typed += stroke.text;
            }
        };
    }

    FakeUserDefaults defaults;
    FakePasteboard pasteboard;
    FakeKeyboardEvents keyboard;
    std::u16string typed;  // the text of each key-down, with the pauses between as "|"
    TextInserter inserter{defaults, pasteboard, keyboard, [this](std::chrono::microseconds pause) {
                              EXPECT_EQ(pause, std::chrono::microseconds(8000));
                              typed += u"|";
                          }};
};

TEST_F(TextInserterTest, PastesByDefaultWithTheClipboardSetBeforeShiftInsert) {
    keyboard.onPost = [&](const KeyStroke&) { EXPECT_EQ(pasteboard.text, "héllo 世界"); };
    inserter.insert("héllo 世界");
    const std::vector<KeyStroke> chord = {{114, true, ModifierFlag::shift, {}},
                                          {114, false, ModifierFlag::shift, {}}};
    EXPECT_EQ(keyboard.strokes, chord);
    EXPECT_TRUE(typed.empty());
}

TEST_F(TextInserterTest, TypesPiecesOf20CharactersAsDownUpPause) {
    defaults.setBoolean("insertByTyping", true);
    std::string emoji20;
    for (int i = 0; i < 20; ++i) {
        emoji20 += "😀";
    }
    const std::pair<std::string, std::u16string> rows[] = {
        {std::string(21, 'a'), std::u16string(20, u'a') + u"|a|"},
        {emoji20, UnicodeText::toUtf16(emoji20) + u"|"},  // 40 UTF-16 units, one event
        {"👍🏽" + std::string(19, 'b') + "c", u"👍🏽" + std::u16string(19, u'b') + u"|c|"},
        {"", u""},
    };
    for (const auto& [text, expected] : rows) {
        SCOPED_TRACE(text);
        typed.clear();
        keyboard.strokes.clear();
        inserter.insert(text);
        EXPECT_EQ(typed, expected);
        for (std::size_t i = 1; i < keyboard.strokes.size(); i += 2) {
            EXPECT_EQ(keyboard.strokes[i], (KeyStroke{0, false, 0, {}}));  // key-ups carry nothing
        }
    }
    EXPECT_TRUE(pasteboard.history.empty());
}

// The settings are read at each insertion; a session without a settable clipboard types.
TEST_F(TextInserterTest, SettingsDecideHowAndWhetherASpaceFollows) {
    struct Row {
        std::optional<bool> spaceAfter;
        std::optional<bool> typing;
        bool clipboard;
        const char* text;
        const char16_t* inserted;
        bool typed;
    };
    const Row rows[] = {
        {std::nullopt, std::nullopt, true, "hello world", u"hello world", false},
        {true, false, true, "hello world", u"hello world ", false},
        {true, true, true, "good morning.", u"good morning. |", true},
        {true, false, true, "你好。", u"你好。", false},
        {true, true, true, "こんにちは", u"こんにちは|", true},
        {false, false, false, "four", u"four|", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        for (const auto& [key, value] :
             {std::pair{"addSpaceAfterText", row.spaceAfter}, {"insertByTyping", row.typing}}) {
            value ? defaults.setBoolean(key, *value) : defaults.remove(key);
        }
        pasteboard.settable = row.clipboard;
        pasteboard.history.clear();
        typed.clear();
        inserter.insert(row.text);
        EXPECT_EQ(row.typed ? typed : UnicodeText::toUtf16(pasteboard.history.at(0)), row.inserted);
        EXPECT_EQ(pasteboard.history.empty(), row.typed);
    }
    defaults.setText("insertByTyping", "yes");  // not a Boolean: paste
    pasteboard.settable = true;
    inserter.insert("three");
    EXPECT_EQ(pasteboard.history, (std::vector<std::string>{"three"}));
}

}  // namespace
}  // namespace sayloft::test
