#include "app/StatusHUD.h"

#include <utility>

namespace sayloft {

StatusHUD::StatusHUD(Screens& screens, PanelFactory makePanel)
    : screens_(screens), makePanel_(std::move(makePanel)) {
}

void StatusHUD::show(const std::string& text) {
    mainThread_.assertMainThread();
    if (!panel_ && makePanel_) {
        panel_ = makePanel_();
    }
    if (!panel_) {
        return;
    }
    panel_->setText(text);
    reposition();
    panel_->orderFront();
}

void StatusHUD::hide() {
    mainThread_.assertMainThread();
    if (panel_) {
        panel_->orderOut();
    }
}

void StatusHUD::reposition() {
    std::optional<Screens::Screen> chosen;
    if (const auto mouse = screens_.mouseLocation()) {
        for (const auto& screen : screens_.screens()) {
            if (screen.frame.contains(*mouse)) {
                chosen = screen;
                break;
            }
        }
    }
    if (!chosen) {
        chosen = screens_.mainScreen();
    }
    if (!chosen) {
        return;
    }
    const Rect& visible = chosen->visibleFrame;
    const Size size = panel_->size();
    panel_->setOrigin(
        Point{visible.midX() - size.width / 2, visible.maxY() - bottomMargin - size.height});
}

}  // namespace sayloft
