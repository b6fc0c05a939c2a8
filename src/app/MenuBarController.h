#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/MainThreadChecker.h"
#include "app/Texts.h"
#include "app/WeakPtrFactory.h"
#include "core/model/AppState.h"
#include "platform/Bundle.h"
#include "platform/Menu.h"
#include "platform/RunLoop.h"
#include "platform/StatusItem.h"
#include "platform/UserDefaults.h"

namespace sayloft {

// The tray icon, which shows the dictation state, and its menu: retry of the kept recording, the
// transcripts of this run, the hotkey choice, the insertion choices, the version line, the update
// check and Quit. The hotkey and insertion choices are stored in the user defaults, where the
// hotkey monitor and the text inserter read them at their next use.
class MenuBarController {
public:
    using Callback = std::function<void()>;

    static constexpr int hotkeyTag = 102;          // the Hotkey submenu's item
    static constexpr int desktopTriggerTag = 199;  // its first entry while the desktop binds
    static constexpr int retryTag = 103;
    static constexpr int checkUpdatesTag = 104;
    static constexpr int insertByPastingTag = 201;
    static constexpr int insertByTypingTag = 202;
    static constexpr int spaceAfterTextTag = 203;
    static constexpr int recentDictationsTag = 300;  // the submenu's item, disabled while empty
    static constexpr int firstRecentTag = 301;       // its entries, newest first
    static constexpr std::size_t recentLimit = 10;
    static constexpr std::size_t recentTitleLength = 40;  // user-perceived characters
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
    // Run with the whole transcript of the chosen recent dictation.
    std::function<void(const std::string& text)> onCopyRecent;
    // Run after a hotkey was chosen in the menu (and stored), with its key code.
    std::function<void(std::uint16_t keyCode)> onHotkeyChosen;

    // Main thread. The trigger the desktop bound for the hotkey itself (its shortcuts portal),
    // which the user changes in the desktop's settings: shown first in the Hotkey submenu,
    // disabled, as "<trigger> — set in System Settings" ("No key assigned — ..." when empty);
    // nullopt removes it.
    void setDesktopTrigger(const std::optional<std::string>& trigger);

    // Main thread only (asserted), like every call here. `error` returns to `idle` by itself
    // after 3 s unless another state is set first.
    void set(AppState state);
    // Shows the retry item exactly while a recording is kept for retry.
    void setRetryAvailable(bool available);
    // Shows "Check for Updates…" only in builds that have an update feed.
    void setUpdateCheckShown(bool shown);
    // Puts a transcript first in the recent
    // dictations (kept in memory for this run only; the oldest beyond ten is dropped), shown on
    // one line of at most 40 characters.
    void addRecentDictation(std::string text);

    // The short title of the chosen hotkey ("Right Alt"), for messages that say which key to hold.
    static std::string currentHotkeyTitle(const UserDefaults& defaults, const Texts& texts);
    // The build's short version text, or "?" when it has none.
    static std::string version(const Bundle& bundle);

    const Menu& menu() const { return menu_; }

private:
    void apply(AppState state);
    void buildMenu();
    void refreshChecks();
    void selectHotkey(std::uint16_t keyCode);
    void selectInsertion(const char* key, bool value);
    void fillRecent(MenuItem& item) const;

    RunLoop& runLoop_;
    StatusItem& item_;
    UserDefaults& defaults_;
    const Bundle& bundle_;
    const Texts& texts_;
    Menu menu_;
    std::shared_ptr<RunLoopTimer> errorResetTimer_;
    std::deque<std::string> recent_;  // newest first
    MainThreadChecker mainThread_;
    WeakPtrFactory<MenuBarController> weak_{this};  // last: destroyed first
};

}  // namespace sayloft
