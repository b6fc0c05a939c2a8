#include <QString>

#include <gtest/gtest.h>

#include "TestDisplay.h"
#include "TextFieldProcess.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/x11/XTestKeyboardEvents.h"

namespace sayloft {
namespace {

using test::TestDisplay;
using test::TextFieldProcess;
using test::waitUntil;

constexpr std::uint16_t carrierKey = 0;

// What the text inserter posts for one typed piece.
void typePiece(XTestKeyboardEvents& keyboard, const std::u16string& piece) {
    keyboard.post(KeyStroke{carrierKey, true, 0, piece});
    keyboard.post(KeyStroke{carrierKey, false, 0, {}});
}

class XTestKeyboardEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        keys.releaseAll();
        ASSERT_TRUE(keyboard.isAvailable());
    }
    void TearDown() override { keys.releaseAll(); }

    TestDisplay keys;
    XTestKeyboardEvents keyboard;
};

TEST_F(XTestKeyboardEventsTest, TypedTextArrivesWholeWhateverCapsLockAndTheMapIsRestored) {
    TextFieldProcess field;
    ASSERT_TRUE(field.waitUntilReady());
    const auto mappingBefore = keys.keyboardMapping();

    // CJK and emoji go through remapped spare keycodes, which is where characters get lost
    // when the map changes faster than the receiver reads it: type them many times, then more
    // distinct characters than there are spare keycodes. Caps Lock changes no typed case.
    std::u16string expected;
    for (int i = 0; i < 6; ++i) {
        const std::u16string piece =
            i % 3 == 0 ? u"Hi, A-z 1.5! é 测试中文🙂 " : u"测试中文🙂";
        typePiece(keyboard, piece);
        expected += piece;
    }
    keys.setCapsLock(true);
    typePiece(keyboard, u"abc Déjà");
    expected += u"abc Déjà";
    std::u16string distinct;
    for (char16_t c = u'一'; c < u'一' + 120; c += 1) {
        distinct += c;
    }
    for (std::size_t i = 0; i < distinct.size(); i += 20) {
        typePiece(keyboard, distinct.substr(i, 20));
    }
    expected += distinct;
    EXPECT_TRUE(field.waitForText(QString::fromStdU16String(expected)))
        << field.text().toStdString();
    EXPECT_TRUE(keys.capsLocked());
    keys.setCapsLock(false);

    EXPECT_TRUE(waitUntil([&] { return !keyboard.hasBorrowedKeycodes(); }));
    EXPECT_EQ(keys.keyboardMapping(), mappingBefore);
}

TEST_F(XTestKeyboardEventsTest, UnknownVirtualKeyIsDroppedAndModifiersAreLeftAlone) {
    keys.press(108);  // Right Alt held
    keyboard.post(KeyStroke{200, true, ModifierFlag::control, {}});
    keyboard.post(KeyStroke{200, false, ModifierFlag::control, {}});
    EXPECT_TRUE(keys.isDown(108));
    EXPECT_FALSE(keys.isDown(37));
}

}  // namespace
}  // namespace sayloft
