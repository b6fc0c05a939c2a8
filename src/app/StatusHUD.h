#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/MainThreadChecker.h"
#include "platform/Panel.h"
#include "platform/Screens.h"

namespace sayloft {

// The floating panel that says "Listening…" or "Transcribing…" near the bottom centre of a
// screen: the one under the mouse pointer where the pointer's position is known, else the main
// screen (a layer-shell panel then goes to the output the compositor chooses, the focused one,
// at the same distance from the bottom). The panel is made at the first show and kept; hide only
// takes it off the screen. Errors never go here (they are notifications).
class StatusHUD {
public:
    using PanelFactory = std::function<std::unique_ptr<Panel>()>;

    // Gap between the panel's bottom edge and the bottom of the screen's visible area.
    static constexpr double bottomMargin = 120.0;

    // The run loop is not used: every call comes from the main thread and acts at once.
    StatusHUD(Screens& screens, PanelFactory makePanel);

    // Main thread only (asserted). show builds the panel if needed, sets the text, places the
    // panel and brings it to the front; hide takes it away if it exists.
    void show(const std::string& text);
    void hide();

private:
    void reposition();

    Screens& screens_;
    PanelFactory makePanel_;
    std::unique_ptr<Panel> panel_;
    MainThreadChecker mainThread_;
};

}  // namespace sayloft
