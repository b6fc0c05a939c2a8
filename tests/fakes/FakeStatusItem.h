#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/StatusItem.h"

namespace sayloft::test {

// Keeps the icon and the last menu it was given; choose() acts like a click on a menu item.
class FakeStatusItem final : public StatusItem {
public:
    std::string icon;  // empty until setIcon
    std::optional<Tint> tint;
    std::vector<std::string> iconHistory;
    Menu menu;

    void setIcon(const std::string& symbolName, std::optional<Tint> iconTint) override {
        icon = symbolName;
        tint = iconTint;
        iconHistory.push_back(symbolName);
    }
    void setMenu(const Menu& newMenu) override { menu = newMenu; }

    const MenuItem* item(int tag) const { return menu.find(tag); }

    // Runs the action of the item with this tag; false when there is none or it is not enabled.
    bool choose(int tag) {
        const MenuItem* found = menu.find(tag);
        if (!found || !found->enabled || found->hidden || !found->action) {
            return false;
        }
        const auto action = found->action;  // the action may replace the menu
        action();
        return true;
    }

    // The same, for an item found by its title (items without a tag).
    bool chooseTitled(const std::string& title) {
        for (const auto& entry : menu.items) {
            if (entry.title == title && entry.enabled && !entry.hidden && entry.action) {
                const auto action = entry.action;
                action();
                return true;
            }
        }
        return false;
    }
};

}  // namespace sayloft::test
