#pragma once

#include <string>
#include <string_view>

#include "platform/Panel.h"

namespace sayloft {

// The panel where the session can show none (a compositor without the layer shell while Qt runs
// on its Wayland plugin, or no display): it keeps
// its text and size so the status logic runs unchanged, and shows nothing. The tray icon's
// states carry the same information.
class NoPanel final : public Panel {
public:
    void setText(std::string_view) override {}
    Size size() const override { return {220, 48}; }
    void setOrigin(Point) override {}
    void orderFront() override {}
    void orderOut() override {}
};

}  // namespace sayloft
