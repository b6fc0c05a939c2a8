#pragma once

#include <vector>

#include "platform/MenuItem.h"

namespace sayloft {

// A menu as plain data: what the tray shows.
struct Menu {
    std::vector<MenuItem> items;

    // The item with this tag, searched depth first; nullptr when there is none.
    MenuItem* find(int tag) { return find(items, tag); }
    const MenuItem* find(int tag) const { return find(items, tag); }

private:
    template <typename List>
    static auto find(List& list, int tag) -> decltype(&list.front()) {
        for (auto& item : list) {
            if (item.kind == MenuItem::Kind::action && item.tag == tag) {
                return &item;
            }
            if (auto* inner = find(item.submenu, tag)) {
                return inner;
            }
        }
        return nullptr;
    }
};

}  // namespace sayloft
