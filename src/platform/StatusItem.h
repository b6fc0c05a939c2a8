#pragma once

#include <optional>
#include <string>

#include "platform/Menu.h"

namespace sayloft {

// The application's icon in the system tray, with its menu. Main thread only.
class StatusItem {
public:
    enum class Tint { red };

    virtual ~StatusItem() = default;

    // Shows the icon of this symbol name ("mic", "mic.fill", "ellipsis.circle",
    // "exclamationmark.triangle"). Without a tint the icon follows the panel's light or dark
    // theme; with one it keeps that colour. An unknown name leaves the icon empty.
    virtual void setIcon(const std::string& symbolName, std::optional<Tint> tint) = 0;

    // Replaces the whole menu. Called again after every change of a title, check mark or hidden
    // state; an implementation may update the shown menu in place.
    virtual void setMenu(const Menu& menu) = 0;
};

}  // namespace sayloft
