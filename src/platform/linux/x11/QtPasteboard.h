#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

class QClipboard;

namespace sayloft {

// The X clipboard (the CLIPBOARD selection) through QClipboard. The application owns the
// selection after setText and serves it from its event loop for as long as it runs, so a paste
// chord posted right after the call, and any later paste, gets the text. Main thread only.
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
