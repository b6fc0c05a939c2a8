#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sayloft {

// One entry of a tray menu, as plain data.
struct MenuItem {
    enum class Kind { action, separator };

    Kind kind = Kind::action;
    std::string title;  // UTF-8
    int tag = 0;        // unique within one menu tree, submenus included; 0 = no tag
    bool hidden = false;
    bool enabled = true;
    bool checked = false;
    std::string shortcut;          // a key taken with Ctrl ("q"), or empty
    std::function<void()> action;  // runs on the main thread when chosen; may be empty
    std::vector<MenuItem> submenu;

    static MenuItem separator() {
        MenuItem item;
        item.kind = Kind::separator;
        return item;
    }
};

}  // namespace sayloft
