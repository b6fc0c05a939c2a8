#include "app/StatusHUD.h"

#include <utility>

namespace sayloft {

StatusHUD::StatusHUD(RunLoop& runLoop, Screens& screens, PanelFactory makePanel)
    : runLoop_(runLoop), screens_(screens), makePanel_(std::move(makePanel)) {
}

void StatusHUD::show(std::string text) {
    std::weak_ptr<StatusHUD*> weak = self_;
    runLoop_.post([weak, text = std::move(text)] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        StatusHUD& hud = **self;
        if (!hud.panel_ && hud.makePanel_) {
            hud.panel_ = hud.makePanel_();
        }
        if (!hud.panel_) {
            return;
        }
        hud.panel_->setText(text);
        hud.reposition();
        hud.panel_->orderFront();
    });
}

void StatusHUD::hide() {
    std::weak_ptr<StatusHUD*> weak = self_;
    runLoop_.post([weak] {
        const auto self = weak.lock();
        if (self && (*self)->panel_) {
            (*self)->panel_->orderOut();
        }
    });
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
