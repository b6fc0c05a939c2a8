#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

class QClipboard;

namespace sayloft {

// The X clipboard and primary selection (CLIPBOARD and PRIMARY) through QClipboard. The
// application owns both after setText and serves them from its event loop until another client
// takes them, so a paste chord posted right after the call, and any later paste, gets the text:
// Shift+Insert pastes PRIMARY in xterm and CLIPBOARD in toolkit text fields. Main thread only.
// Through Xwayland this also reaches Wayland clients on desktops that bridge the two clipboards.
class QtPasteboard final : public Pasteboard {
public:
    // clipboard nullptr: the QGuiApplication's, which must exist.
    explicit QtPasteboard(QClipboard* clipboard = nullptr);

    // Offers utf8 as plain text (text/plain;charset=utf-8, UTF8_STRING and the legacy text
    // targets). Invalid UTF-8 sequences become U+FFFD rather than dropping the text.
    void setText(std::string_view utf8) override;

private:
    QClipboard* clipboard_;
};

}  // namespace sayloft
