#pragma once

#include <cstddef>

#include "platform/Alerts.h"

namespace sayloft {

// Alerts as QMessageBox dialogs. The buttons appear in the order given, whatever the desktop's
// usual button order; the first is the default (Return chooses it) and the last the escape
// button. A tray application has no window of its own, so each dialog is raised and activated
// itself to get the keyboard focus. runModal runs a nested event loop. Main thread only.
class QtAlerts final : public Alerts {
public:
    void activateApp() override;
    std::size_t runModal(const Alert& alert) override;
};

}  // namespace sayloft
