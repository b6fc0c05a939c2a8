#include <QFile>
#include <QProcess>
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

constexpr std::uint16_t insertKey = 114;
constexpr unsigned rightAlt = 108;

// Pastes into another application: the clipboard, then the chord, as the text inserter does.
class QtPasteboardTest : public ::testing::Test {
protected:
    void SetUp() override { keys.releaseAll(); }
    void TearDown() override { keys.releaseAll(); }

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
};

TEST_F(QtPasteboardTest, PastedTextArrivesInAnotherApplicationAgainAndAgain) {
    struct Row {
        TextFieldProcess::Toolkit toolkit;
        std::string text;
        QString arrives;
    };
    const Row rows[] = {
        {TextFieldProcess::Toolkit::gtk, "测试中文🙂 gtk", "测试中文🙂 gtk"},
        {TextFieldProcess::Toolkit::qt, "测试中文🙂 pasted", "测试中文🙂 pasted"},
        // Invalid UTF-8 is offered with replacement characters.
        {TextFieldProcess::Toolkit::qt, "ok \xff end", QString::fromUtf8("ok \xef\xbf\xbd end")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arrives.toStdString());
        TextFieldProcess field(row.toolkit);
        ASSERT_TRUE(field.waitUntilReady());
        paste(row.text);
        EXPECT_TRUE(field.waitForText(row.arrives)) << field.text().toStdString();
        // The clipboard still offers it after the paste: a second chord pastes it again.
        pasteAgain();
        EXPECT_TRUE(field.waitForText(row.arrives + row.arrives)) << field.text().toStdString();
    }
}

TEST_F(QtPasteboardTest, PasteWhileTheHotkeyIsHeldLiftsItAndPutsItBackUnseen) {
    std::vector<std::uint64_t> events;  // key code, flags; ...
    ASSERT_TRUE(monitor.install([&](const ModifierEvent& e) {
        events.insert(events.end(), {e.keyCode, e.flags});
    }));
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
