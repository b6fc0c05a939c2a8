#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "WaylandSession.h"
#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/wayland/DataControlPasteboard.h"
#include "platform/linux/wayland/VirtualKeyboardEvents.h"

namespace sayloft {
namespace {

using test::TextReceiver;

constexpr std::uint16_t carrierKey = 0;
constexpr std::uint16_t insertKey = 114;

// `count` distinct CJK ideographs spread over the block (U+4E00 + 37 i), in UTF-8.
std::string distinctIdeographs(int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        const auto c = static_cast<char32_t>(0x4e00 + 37 * i);
        out += {static_cast<char>(0xe0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3f)),
                static_cast<char>(0x80 | (c & 0x3f))};
    }
    return out;
}

TEST(VirtualKeyboardEventsTableTest, VirtualKeysMapToUsEvdevCodes) {
    const std::pair<std::uint16_t, std::uint32_t> rows[] = {
        {114, 110},  // Insert, for the paste chord
        {36, 28},    // Return
        {61, 100},   // Right Alt
        {55, 125},   // Left Super
    };
    for (const auto& [virtualKey, evdev] : rows) {
        EXPECT_EQ(VirtualKeyboardEvents::evdevCode(virtualKey), evdev) << virtualKey;
    }
    EXPECT_FALSE(VirtualKeyboardEvents::evdevCode(10).has_value());  // ISO section key
}

TEST(VirtualKeyboardEventsTableTest, CharactersBecomeKeysyms) {
    const std::pair<char32_t, std::uint32_t> rows[] = {
        {U'a', 0x61},    {U'é', 0xe9},    {U'测', 0x1006d4b}, {U'🙂', 0x101f642},
        {U'\n', 0xff0d}, {U'\t', 0xff09}, {U'\x07', 0},       {U'\x85', 0},
    };
    for (const auto& [c, keysym] : rows) {
        EXPECT_EQ(VirtualKeyboardEvents::keysymFor(c), keysym) << std::hex << std::uint32_t{c};
    }
}

TEST(VirtualKeyboardEventsTableTest, TextKeymapGivesEachKeysymAKeyAwayFromModifiers) {
    std::vector<std::uint32_t> keysyms{0xff0d, 0x61, 0xff09};  // Return, a, Tab
    for (std::uint32_t i = 0; i < 400; ++i) {
        keysyms.push_back(0x1004e00 + 37 * i);  // the ideographs' Unicode keysyms
    }
    std::map<std::uint32_t, std::uint32_t> keys;
    const std::string keymap = VirtualKeyboardEvents::textKeymap(keysyms, keys);
    EXPECT_EQ(keys.at(0xff0d), 28u);  // Return and Tab keep their keys (GTK needs that)
    EXPECT_EQ(keys.at(0xff09), 15u);
    EXPECT_GT(keys.size(), 200u);  // a keymap holds a couple of hundred characters
    EXPECT_LT(keys.size(), keysyms.size());
    std::set<std::uint32_t> codes;
    for (const auto& [keysym, code] : keys) {
        EXPECT_TRUE(codes.insert(code).second) << "two keysyms on key " << code;
        EXPECT_LE(code + 8, 255u);
        // Modifier keys (the hotkeys among them) never type characters.
        for (const std::uint32_t modifier : {29u, 42u, 54u, 56u, 97u, 100u, 125u, 126u}) {
            EXPECT_NE(code, modifier);
        }
    }
    EXPECT_NE(keymap.find("U4E00"), std::string::npos) << "keysyms are written by name";
}

class VirtualKeyboardEventsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SAYLOFT_REQUIRE_WAYLAND_SESSION();
        keyboard = std::make_unique<VirtualKeyboardEvents>();
        ASSERT_TRUE(keyboard->isAvailable()) << "the compositor has no zwp_virtual_keyboard_v1";
    }

    // What the text inserter posts for one typed piece.
    void typePiece(const std::string& piece) {
        keyboard->post(KeyStroke{carrierKey, true, 0, UnicodeText::toUtf16(piece)});
        keyboard->post(KeyStroke{carrierKey, false, 0, {}});
    }

    std::unique_ptr<VirtualKeyboardEvents> keyboard;
};

struct TypingRow {
    const char* what;
    TextReceiver::Kind receiver;
    std::vector<std::string> pieces;
};

TEST_F(VirtualKeyboardEventsTest, TypedTextArrivesWholeFirstCharacterIncluded) {
    const std::string mixed = "Hi, A-z 1.5! é\t测试中文🙂\n";
    const TypingRow rows[] = {
        {"CJK and emoji, typed again and again, keymaps switching",
         TextReceiver::Kind::foot,
         {"测试中文🙂", "测试中文🙂", mixed, "测试中文🙂", "测试中文🙂",
          mixed, "测试中文🙂", "测试中文🙂"}},
        {"more distinct characters than one keymap holds",
         TextReceiver::Kind::foot,
         {distinctIdeographs(400)}},
        {"CJK and emoji into a GTK entry",
         TextReceiver::Kind::gtk,
         {"测试中文🙂", "测试中文🙂", " Hi é ", "测试中文🙂",
          "测试中文🙂"}},
    };
    for (const TypingRow& row : rows) {
        SCOPED_TRACE(row.what);
        TextReceiver receiver(row.receiver);
        ASSERT_TRUE(receiver.waitUntilFocused()) << TextReceiver::name(row.receiver);
        // A fresh keyboard typing at once into the focused field: its first key is the one at
        // risk.
        keyboard = std::make_unique<VirtualKeyboardEvents>();
        std::string expected;
        for (const std::string& piece : row.pieces) {
            typePiece(piece);
            expected += piece;
        }
        EXPECT_EQ(receiver.waitForText(expected), expected);
    }
}

TEST_F(VirtualKeyboardEventsTest, ShiftInsertPastesBothSelections) {
    DataControlPasteboard pasteboard;
    ASSERT_TRUE(pasteboard.isAvailable()) << "the compositor has no data control";
    for (const auto kind : {TextReceiver::Kind::foot, TextReceiver::Kind::gtk}) {
        SCOPED_TRACE(TextReceiver::name(kind));
        TextReceiver receiver(kind);
        ASSERT_TRUE(receiver.waitUntilFocused());
        const std::string text = std::string("粘贴 paste ✓ ") + TextReceiver::name(kind);

        pasteboard.setText(text);
        keyboard->post(KeyStroke{insertKey, true, ModifierFlag::shift, {}});
        keyboard->post(KeyStroke{insertKey, false, ModifierFlag::shift, {}});

        EXPECT_EQ(receiver.waitForText(text), text);
        EXPECT_EQ(test::runProgram({"wl-paste", "--no-newline"}), text);
        EXPECT_EQ(test::runProgram({"wl-paste", "--primary", "--no-newline"}), text);
    }
}

}  // namespace
}  // namespace sayloft
