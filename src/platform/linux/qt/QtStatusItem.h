#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/StatusItem.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace sayloft {

// The tray icon: a QSystemTrayIcon, which Qt shows as a StatusNotifierItem over D-Bus when the
// session has a org.kde.StatusNotifierWatcher at start-up and in the XEmbed system tray otherwise.
// Icons are SVGs compiled into the program (":/sayloft/icons/"). A tray icon cannot learn whether
// the panel behind it is light or dark, so the untinted icons are drawn light with a dark outline,
// readable on both. "mic.fill" exists only filled in red (the recording state), so it keeps that
// colour with or without the red tint; a tint on the other symbols changes nothing. An item's
// shortcut (Ctrl+key) chooses it while the menu Qt draws is open (an XEmbed tray, or the menu a
// left click opens); under a StatusNotifierItem host it is published with the menu (dbusmenu's
// "shortcut") and the host decides what the key does. Main thread only.
class QtStatusItem final : public StatusItem {
public:
    // tooltip is the product name shown when the pointer rests on the icon.
    explicit QtStatusItem(const std::string& tooltip);
    ~QtStatusItem() override;
    QtStatusItem(const QtStatusItem&) = delete;
    QtStatusItem& operator=(const QtStatusItem&) = delete;

    void setIcon(const std::string& symbolName, std::optional<Tint> tint) override;
    void setMenu(const Menu& menu) override;

    // Whether the desktop offered a tray when the icon was shown.
    static bool trayAvailable();
    // The resource path of the icon for a symbol and tint; empty for an unknown symbol.
    static std::string iconResource(const std::string& symbolName, std::optional<Tint> tint);

    // For tests: the menu as built, and the current icon's resource path.
    QMenu* qmenu() const { return menu_.get(); }
    const std::string& currentIcon() const { return currentIcon_; }

    struct Entry;

private:
    void rebuild(const Menu& menu);
    bool sameShape(const std::vector<MenuItem>& items, const std::vector<Entry>& entries) const;
    void fill(QMenu& target, const std::vector<MenuItem>& items, std::vector<Entry>& entries);
    void update(const std::vector<MenuItem>& items, std::vector<Entry>& entries);

    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<QMenu> menu_;
    std::vector<Entry> entries_;
    std::string currentIcon_;
};

}  // namespace sayloft
