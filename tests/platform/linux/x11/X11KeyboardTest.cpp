// The X11 keyboard and clipboard against Xvfb (scripts/desktop-session): the hotkey monitor
// (XInput 2), the typing and the paste chord (XTEST), the clipboard (Qt), each text received by
// another X client.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <vector>

#include <gtest/gtest.h>

#include "ChildProcess.h"
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
using Events = std::vector<std::uint64_t>;  // key code, flags; key code, flags; ...

constexpr unsigned rightAlt = 108;
constexpr std::uint16_t insertKey = 114;
constexpr std::uint16_t carrierKey = 0;
constexpr std::uint64_t opt = ModifierFlag::option;
constexpr std::uint64_t ctl = ModifierFlag::control;
constexpr std::uint64_t cmd = ModifierFlag::command;

class X11KeyboardTest : public ::testing::Test {
protected:
    void SetUp() override { keys.releaseAll(); }
    void TearDown() override { keys.releaseAll(); }

    KeyEventMonitor::MonitorId installRecorder() {
        const auto id = monitor.install([this](const ModifierEvent& e) {
            events.insert(events.end(), {e.keyCode, e.flags});
        });
        EXPECT_TRUE(id.has_value());
        return id.value_or(0);
    }
    // Keys as the person presses them: +keycode down, -keycode up.
    void play(const std::vector<int>& strokes) {
        for (const int stroke : strokes) {
            stroke > 0 ? keys.press(static_cast<unsigned>(stroke))
                       : keys.release(static_cast<unsigned>(-stroke));
        }
    }
    // What the text inserter posts for one typed piece.
    void type(const std::u16string& piece) {
        keyboard.post(KeyStroke{carrierKey, true, 0, piece});
        keyboard.post(KeyStroke{carrierKey, false, 0, {}});
    }
    // Pastes into another application: the clipboard, then the chord, as the text inserter does.
    void paste(const std::string& text) {
        pasteboard.setText(text);
        pasteAgain();
    }
    void pasteAgain() {
        keyboard.post(KeyStroke{insertKey, true, ModifierFlag::shift, {}});
        keyboard.post(KeyStroke{insertKey, false, ModifierFlag::shift, {}});
    }

    TestDisplay keys;
    XInputKeyEventMonitor monitor;
    XTestKeyboardEvents keyboard{&monitor};
    QtPasteboard pasteboard;
    Events events;
};
using XInputKeyEventMonitorTest = X11KeyboardTest;
using XTestKeyboardEventsTest = X11KeyboardTest;
using QtPasteboardTest = X11KeyboardTest;

TEST_F(XInputKeyEventMonitorTest, ReportsTheTableKeysWithTheFlagsOfEveryKeyDown) {
    struct Row {
        const char* name;
        std::vector<int> beforeInstall;  // strokes while nothing (or a removed monitor) listens
        std::vector<int> strokes;
        Events expected;
    };
    const Row rows[] = {
        {"every table key, down and up",
         {},
         {108, -108, 64, -64, 134, -134, 133, -133, 105, -105, 37, -37},
         // Right and Left Alt, Right and Left Super, Right and Left Control
         {61, opt, 61, 0, 58, opt, 58, 0, 54, cmd, 54, 0,
          55, cmd, 55, 0, 62, ctl, 62, 0, 59, ctl, 59, 0}},
        {"Left Alt held keeps the option flag when Right Alt goes up",
         {},
         {64, 108, -108, -64},
         {58, opt, 61, opt, 61, opt, 58, 0}},
        {"flags combine across families", {}, {37, 134, -37}, {59, ctl, 54, ctl | cmd, 59, cmd}},
        {"A and Shift are not reported", {}, {38, -38, 50, -50, 108}, {61, opt}},
        {"a key down before install counts", {64}, {108, -108, -64}, {61, opt, 61, opt, 58, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        keys.releaseAll();
        events.clear();
        // A removed monitor is called no more (its events would come twice), and a later
        // install reads the key state afresh.
        monitor.remove(installRecorder());
        play(row.beforeInstall);
        const auto id = installRecorder();
        play(row.strokes);
        ASSERT_TRUE(waitUntil([&] { return events.size() >= row.expected.size(); }));
        EXPECT_EQ(events, row.expected);
        monitor.remove(id);
        monitor.remove(id);  // unknown ids are ignored
    }
}

TEST(XInputKeyEventMonitorNoDisplayTest, UntrustedAndInstallsNothing) {
    XInputKeyEventMonitor monitor(":999");
    EXPECT_FALSE(monitor.isTrusted());
    EXPECT_EQ(monitor.install([](const ModifierEvent&) {}), std::nullopt);
}

TEST_F(XTestKeyboardEventsTest, TypedTextArrivesWholeWhateverCapsLockAndTheMapIsRestored) {
    ASSERT_TRUE(keyboard.isAvailable());
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
        type(piece);
        expected += piece;
    }
    keys.setCapsLock(true);
    type(u"abc Déjà");
    expected += u"abc Déjà";
    std::u16string distinct;
    for (char16_t c = u'一'; c < u'一' + 120; c += 1) {
        distinct += c;
    }
    for (std::size_t i = 0; i < distinct.size(); i += 20) {
        type(distinct.substr(i, 20));
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
    keys.press(rightAlt);  // held
    keyboard.post(KeyStroke{200, true, ModifierFlag::control, {}});
    keyboard.post(KeyStroke{200, false, ModifierFlag::control, {}});
    EXPECT_TRUE(keys.isDown(rightAlt));
    EXPECT_FALSE(keys.isDown(37));  // Left Control
}

TEST_F(QtPasteboardTest, PastedTextArrivesInAnotherApplicationAgainAndAgain) {
    for (const auto toolkit : {TextFieldProcess::Toolkit::gtk, TextFieldProcess::Toolkit::qt}) {
        const QString text = toolkit == TextFieldProcess::Toolkit::gtk ? "测试中文🙂 gtk"
                                                                       : "测试中文🙂 qt";
        SCOPED_TRACE(text.toStdString());
        TextFieldProcess field(toolkit);
        ASSERT_TRUE(field.waitUntilReady());
        paste(text.toStdString());
        EXPECT_TRUE(field.waitForText(text)) << field.text().toStdString();
        // The clipboard still offers it after the paste: a second chord pastes it again.
        pasteAgain();
        EXPECT_TRUE(field.waitForText(text + text)) << field.text().toStdString();
    }
}

TEST_F(QtPasteboardTest, PasteWhileTheHotkeyIsHeldLiftsItAndPutsItBackUnseen) {
    installRecorder();
    TextFieldProcess field;
    ASSERT_TRUE(field.waitUntilReady());
    keys.press(rightAlt);
    ASSERT_TRUE(waitUntil([&] { return !events.empty(); }));

    paste("held");
    // With Alt still down the field would see Shift+Alt+Insert, which does not paste.
    EXPECT_TRUE(field.waitForText("held")) << field.text().toStdString();
    EXPECT_TRUE(keys.isDown(rightAlt));
    EXPECT_FALSE(keys.isDown(50));  // Shift is up again

    keys.release(rightAlt);  // the user lets go: the only release the monitor reports
    ASSERT_TRUE(waitUntil([&] { return events.size() >= 4; }));
    EXPECT_EQ(events, (std::vector<std::uint64_t>{61, ModifierFlag::option, 61, 0}));
}

// xterm pastes the primary selection on Shift+Insert (Ctrl+V would send ^V to the shell).
TEST_F(QtPasteboardTest, PastedTextArrivesInXterm) {
    QTemporaryDir folder;
    const QString out = folder.filePath(QStringLiteral("pasted"));
    QProcess xterm;
    xterm.start("xterm", {"-geometry", "80x10+0+0", "-e", "sh", "-c",
                          "stty -icanon; exec cat > \"$0\"", out});
    ASSERT_TRUE(xterm.waitForStarted());
    ASSERT_TRUE(test::runProgram({"xdotool", "search", "--sync", "--onlyvisible", "--class",
                                  "XTerm", "windowfocus", "--sync"}));
    paste("echo 测试 ok");
    QByteArray got;
    EXPECT_TRUE(waitUntil([&] {
        QFile file(out);
        got = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        return got == "echo 测试 ok";
    })) << got.toStdString();
    xterm.kill();
    xterm.waitForFinished(5000);
}

}  // namespace
}  // namespace sayloft
