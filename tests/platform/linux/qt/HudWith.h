#pragma once

#include <QRect>
#include <memory>
#include <type_traits>

#include "app/StatusHUD.h"
#include "platform/linux/qt/QtScreens.h"

namespace sayloft::test {

// The status panel of type Panel as StatusHUD shows it; `shown` is the panel once built.
template <class Panel>
class HudWith {
public:
    explicit HudWith(bool pointersScreenKnown) : screens(pointersScreenKnown) {}

    QtScreens screens;
    Panel* shown = nullptr;
    StatusHUD hud{screens, [this] {
                      std::unique_ptr<Panel> panel;
                      if constexpr (std::is_constructible_v<Panel, const QtScreens&>) {
                          panel = std::make_unique<Panel>(screens);
                      } else {
                          panel = std::make_unique<Panel>();
                      }
                      shown = panel.get();
                      return panel;
                  }};

    // Where the panel belongs on the headless sessions' 1280x800 screen at scale 1: centred,
    // 120 px above the bottom.
    QRect bottomCentre() const {
        const int width = static_cast<int>(shown->size().width);
        const int height = static_cast<int>(shown->size().height);
        return {(1280 - width) / 2, 800 - 120 - height, width, height};
    }
};

}  // namespace sayloft::test
