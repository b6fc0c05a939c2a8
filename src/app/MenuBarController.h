#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/Texts.h"
#include "core/model/AppState.h"
#include "platform/Bundle.h"
#include "platform/Menu.h"
#include "platform/RunLoop.h"
#include "platform/StatusItem.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The tray icon, which shows the dictation state, and its menu: retry of the kept recording, the
// hotkey choice, the version line, the update check and Quit. The hotkey choice is stored in the
// user defaults, where the hotkey monitor reads it at its next key event.
class MenuBarController {
public:
    using Callback = std::function<void()>;

    static constexpr int retryTag = 103;
    static constexpr double errorResetSeconds = 3.0;

    // Main thread. Builds the whole menu and shows the idle icon on the next turn of the loop.
    MenuBarController(RunLoop& runLoop, StatusItem& item, UserDefaults& defaults,
                      const Bundle& bundle, const Texts& texts);
    ~MenuBarController();
    MenuBarController(const MenuBarController&) = delete;
    MenuBarController& operator=(const MenuBarController&) = delete;

    // Run by the menu commands, on the main thread; a command whose callback is empty does
    // nothing.
    Callback onQuit;
    Callback onRetry;
    Callback onCheckUpdates;

    // Any thread; applied later on the main thread, in call order. `error` returns to `idle` by
    // itself after 3 s unless another state is set first.
    void set(AppState state);
    // Any thread; shows the retry item exactly while a recording is kept for retry.
    void setRetryAvailable(bool available);

    // The short title of the chosen hotkey ("Right Alt"), for messages that say which key to hold.
    static std::string currentHotkeyTitle(const UserDefaults& defaults, const Texts& texts);
    // The build's short version text, or "?" when it has none.
    static std::string version(const Bundle& bundle);

    const Menu& menu() const { return menu_; }

private:
    void apply(AppState state);
    void buildMenu();
    void refreshHotkeyChecks();
    void selectHotkey(std::uint16_t keyCode);
    // Runs fn on this controller if it still exists.
    Callback guarded(std::function<void(MenuBarController&)> fn);

    RunLoop& runLoop_;
    StatusItem& item_;
    UserDefaults& defaults_;
    const Bundle& bundle_;
    const Texts& texts_;
    Menu menu_;
    std::shared_ptr<RunLoopTimer> errorResetTimer_;
    std::shared_ptr<MenuBarController*> self_ = std::make_shared<MenuBarController*>(this);
};

}  // namespace sayloft
