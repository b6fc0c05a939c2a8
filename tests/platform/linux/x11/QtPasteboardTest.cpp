#include <vector>

#include <gtest/gtest.h>

#include "TestDisplay.h"
#include "TextFieldProcess.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/x11/QtPasteboard.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"
#include "platform/linux/x11/XTestKeyboardEvents.h"

namespace sayloft {
namespace {

using test::TestDisplay;
using test::TextFieldProcess;
using test::waitUntil;

constexpr std::uint16_t keyV = 9;
constexpr unsigned rightAlt = 108;

// Pastes into another application: the clipboard, then the chord, as the text inserter does.
class QtPasteboardTest : public ::testing::Test {
protected:
    void SetUp() override { keys.releaseAll(); }
    void TearDown() override { keys.releaseAll(); }

    void paste(const std::string& text) {
        pasteboard.setText(text);
        const std::uint64_t flags = keyboard.pasteModifiers();
        keyboard.post(KeyStroke{keyV, true, flags, {}});
        keyboard.post(KeyStroke{keyV, false, flags, {}});
    }

    TestDisplay keys;
    XInputKeyEventMonitor monitor;
    XTestKeyboardEvents keyboard{&monitor};
    QtPasteboard pasteboard;
};

TEST_F(QtPasteboardTest, PastedTextArrivesInAnotherApplication) {
    TextFieldProcess field;
    ASSERT_TRUE(field.waitUntilReady());
    paste("测试中文🙂 pasted");
    EXPECT_TRUE(field.waitForText("测试中文🙂 pasted")) << field.text().toStdString();
    // The clipboard still offers it after the paste: a second chord pastes it again.
    const std::uint64_t flags = keyboard.pasteModifiers();
    keyboard.post(KeyStroke{keyV, true, flags, {}});
    keyboard.post(KeyStroke{keyV, false, flags, {}});
    EXPECT_TRUE(field.waitForText("测试中文🙂 pasted测试中文🙂 pasted"));
}

TEST_F(QtPasteboardTest, PasteWhileTheHotkeyIsHeldLiftsItAndPutsItBackUnseen) {
    std::vector<ModifierEvent> events;
    ASSERT_TRUE(monitor.install([&](const ModifierEvent& e) { events.push_back(e); }));
    TextFieldProcess field;
    ASSERT_TRUE(field.waitUntilReady());
    keys.press(rightAlt);
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));

    paste("held");
    // With Alt still down the field would see Ctrl+Alt+V, which does not paste.
    EXPECT_TRUE(field.waitForText("held")) << field.text().toStdString();
    EXPECT_TRUE(keys.isDown(rightAlt));
    EXPECT_FALSE(keys.isDown(37));

    keys.release(rightAlt);  // the user lets go: the only release the monitor reports
    ASSERT_TRUE(waitUntil([&] { return events.size() >= 2; }));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].keyCode, 61);
    EXPECT_EQ(events[0].flags, ModifierFlag::option);
    EXPECT_EQ(events[1].keyCode, 61);
    EXPECT_EQ(events[1].flags, 0u);
}

TEST_F(QtPasteboardTest, InvalidUtf8IsOfferedWithReplacementCharacters) {
    TextFieldProcess field;
    ASSERT_TRUE(field.waitUntilReady());
    paste(std::string("ok \xff end"));
    EXPECT_TRUE(field.waitForText(QString::fromUtf8("ok \xef\xbf\xbd end")))
        << field.text().toStdString();
}

}  // namespace
}  // namespace sayloft
