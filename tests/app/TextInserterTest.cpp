#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/TextInserter.h"
#include "core/text/UnicodeText.h"
#include "fakes/FakeKeyboardEvents.h"
#include "fakes/FakePasteboard.h"
#include "fakes/FakeUserDefaults.h"
#include "fakes/VirtualRunLoop.h"
#include "platform/ModifierEvent.h"

namespace sayloft::test {
namespace {

class TextInserterTest : public ::testing::Test {
protected:
    TextInserterTest() {
        keyboard.onPost = [this](const KeyStroke&) { events.push_back("key"); };
    }

    std::vector<std::u16string> typedPieces() const {
        std::vector<std::u16string> pieces;
        for (const auto& stroke : keyboard.strokes) {
            if (stroke.down) {
                pieces.push_back(stroke.text);
            }
        }
        return pieces;
    }

    VirtualRunLoop loop;
    FakeUserDefaults defaults;
    FakePasteboard pasteboard;
    FakeKeyboardEvents keyboard;
    std::vector<std::string> events;  // keys and pauses, interleaved as they happened
    std::vector<std::chrono::microseconds> pauses;
    TextInserter inserter{loop, defaults, pasteboard, keyboard,
                          [this](std::chrono::microseconds pause) {
                              pauses.push_back(pause);
                              events.push_back("pause");
                          }};
};

TEST_F(TextInserterTest, PastesByDefaultWithTheClipboardHoldingExactlyTheText) {
    std::vector<std::optional<std::string>> clipboardAtKey;
    keyboard.onPost = [&](const KeyStroke&) { clipboardAtKey.push_back(pasteboard.text); };
    inserter.insert("héllo 世界");
    EXPECT_TRUE(keyboard.strokes.empty());  // runs later, on the main thread
    loop.runUntilIdle();
    EXPECT_EQ(pasteboard.history, (std::vector<std::string>{"héllo 世界"}));
    // Shift+Insert, exactly Shift: terminals and text fields alike paste on it.
    const std::vector<KeyStroke> chord = {{114, true, ModifierFlag::shift, {}},
                                          {114, false, ModifierFlag::shift, {}}};
    EXPECT_EQ(keyboard.strokes, chord);
    EXPECT_EQ(clipboardAtKey.front(), "héllo 世界");  // set before the chord, nothing between
    EXPECT_TRUE(pauses.empty());
}

TEST_F(TextInserterTest, TypesInPiecesOf20CharactersWithAPauseAfterEach) {
    defaults.setBoolean("insertByTyping", true);
    struct Row {
        std::string text;
        std::vector<std::size_t> unitsPerPiece;
    };
    std::string emoji20;
    for (int i = 0; i < 20; ++i) {
        emoji20 += "😀";
    }
    std::string chinese21;
    for (int i = 0; i < 21; ++i) {
        chinese21 += "字";
    }
    const Row rows[] = {
        {std::string(20, 'a'), {20}},
        {std::string(21, 'a'), {20, 1}},
        {std::string(45, 'a'), {20, 20, 5}},
        {emoji20, {40}},  // 20 characters, 40 UTF-16 code units, one event
        {chinese21, {20, 1}},
        {"👍🏽" + std::string(19, 'b') + "c", {23, 1}},  // a modified emoji is one character
        {"", {}},
    };
    for (const auto& row : rows) {
        keyboard.strokes.clear();
        pauses.clear();
        inserter.insert(row.text);
        loop.runUntilIdle();
        const auto pieces = typedPieces();
        ASSERT_EQ(pieces.size(), row.unitsPerPiece.size()) << row.text;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].size(), row.unitsPerPiece[i]) << row.text << " piece " << i;
        }
        EXPECT_EQ(pauses.size(), pieces.size()) << row.text;
        for (const auto pause : pauses) {
            EXPECT_EQ(pause, std::chrono::microseconds(8000));
        }
    }
    EXPECT_EQ(pasteboard.history.size(), 0u);
}

TEST_F(TextInserterTest, KeyUpsCarryNoTextAndEveryPieceIsDownUpPause) {
    defaults.setBoolean("insertByTyping", true);
    inserter.insert(std::string(25, 'x'));
    loop.runUntilIdle();
    EXPECT_EQ(events, (std::vector<std::string>{"key", "key", "pause", "key", "key", "pause"}));
    ASSERT_EQ(keyboard.strokes.size(), 4u);
    EXPECT_EQ(keyboard.strokes[0], (KeyStroke{0, true, 0, std::u16string(20, u'x')}));
    EXPECT_EQ(keyboard.strokes[1], (KeyStroke{0, false, 0, {}}));
    EXPECT_EQ(keyboard.strokes[2], (KeyStroke{0, true, 0, std::u16string(5, u'x')}));
    EXPECT_EQ(keyboard.strokes[3], (KeyStroke{0, false, 0, {}}));
}

TEST_F(TextInserterTest, TheSettingIsReadAtEachInsertionInOrderAndNoClipboardMeansTyping) {
    inserter.insert("one");
    defaults.setBoolean("insertByTyping", true);  // changed before the first insertion runs
    inserter.insert("two");
    loop.runUntilIdle();
    EXPECT_TRUE(pasteboard.history.empty());
    EXPECT_EQ(typedPieces(), (std::vector<std::u16string>{u"one", u"two"}));

    keyboard.strokes.clear();
    defaults.setText("insertByTyping", "yes");  // not a boolean: paste
    inserter.insert("three");
    loop.runUntilIdle();
    EXPECT_EQ(pasteboard.history, (std::vector<std::string>{"three"}));

    keyboard.strokes.clear();
    pasteboard.settable = false;  // no clipboard to set in this session: typed whatever the setting
    inserter.insert("four");
    loop.runUntilIdle();
    EXPECT_EQ(pasteboard.history, (std::vector<std::string>{"three"}));
    EXPECT_EQ(typedPieces(), (std::vector<std::u16string>{u"four"}));
}

TEST_F(TextInserterTest, ASpaceFollowsTextOfSpacedScriptsOnlyWhenChosen) {
    struct Row {
        std::optional<bool> spaceAfter;
        bool typing;
        const char* text;
        const char16_t* inserted;
    };
    const Row rows[] = {
        {std::nullopt, false, "hello world", u"hello world"},  // off by default
        {false, false, "hello world", u"hello world"},
        {true, false, "hello world", u"hello world "},
        {true, true, "good morning.", u"good morning. "},
        {true, false, "你好。", u"你好。"},
        {true, true, "こんにちは", u"こんにちは"},
        {true, false, "hello ", u"hello "},
    };
    for (const auto& row : rows) {
        if (row.spaceAfter) {
            defaults.setBoolean("addSpaceAfterText", *row.spaceAfter);
        } else {
            defaults.remove("addSpaceAfterText");
        }
        defaults.setBoolean("insertByTyping", row.typing);
        pasteboard.history.clear();
        keyboard.strokes.clear();
        inserter.insert(row.text);
        loop.runUntilIdle();
        const std::u16string inserted =
            row.typing ? typedPieces().at(0) : UnicodeText::toUtf16(pasteboard.history.at(0));
        EXPECT_EQ(inserted, row.inserted) << row.text;
    }
}

TEST_F(TextInserterTest, AnEmptyTextThroughPasteStillSetsTheClipboard) {
    inserter.insert("");
    loop.runUntilIdle();
    EXPECT_EQ(pasteboard.text, "");
    EXPECT_EQ(keyboard.strokes.size(), 2u);
}

}  // namespace
}  // namespace sayloft::test
