#include "app/MenuBarController.h"

#include <optional>
#include <utility>

#include "app/HotkeySetting.h"
#include "app/InsertionSettings.h"
#include "core/text/UnicodeText.h"

namespace sayloft {
namespace {

struct Icon {
    const char* symbol;
    std::optional<StatusItem::Tint> tint;
};

Icon iconFor(AppState state) {
    switch (state) {
        case AppState::idle:
            return {"mic", std::nullopt};
        case AppState::recording:
            return {"mic.fill", StatusItem::Tint::red};
        case AppState::transcribing:
            return {"ellipsis.circle", std::nullopt};
        case AppState::error:
            return {"exclamationmark.triangle", std::nullopt};
    }
    return {"mic", std::nullopt};
}

// The title up to its first "(", without outer spaces and tabs: "Right Alt (default)" gives
// "Right Alt".
std::string shortTitle(const std::string& title) {
    std::string piece = title.substr(0, title.find('('));
    const auto first = piece.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = piece.find_last_not_of(" \t");
    return piece.substr(first, last - first + 1);
}

}  // namespace

MenuBarController::MenuBarController(RunLoop& runLoop, StatusItem& item, UserDefaults& defaults,
                                     const Bundle& bundle, const Texts& texts)
    : runLoop_(runLoop), item_(item), defaults_(defaults), bundle_(bundle), texts_(texts) {
    set(AppState::idle);
    buildMenu();
}

MenuBarController::~MenuBarController() {
    if (errorResetTimer_) {
        errorResetTimer_->invalidate();
    }
}


void MenuBarController::set(AppState state) {
    mainThread_.assertMainThread();
    apply(state);
}

void MenuBarController::setRetryAvailable(bool available) {
    mainThread_.assertMainThread();
    if (MenuItem* retry = menu_.find(retryTag)) {
        retry->hidden = !available;
        item_.setMenu(menu_);
    }
}

void MenuBarController::setUpdateCheckShown(bool shown) {
    menu_.find(checkUpdatesTag)->hidden = !shown;
    item_.setMenu(menu_);
}

void MenuBarController::addRecentDictation(std::string text) {
    mainThread_.assertMainThread();
    recent_.push_front(std::move(text));
    if (recent_.size() > recentLimit) {
        recent_.pop_back();
    }
    if (MenuItem* recent = menu_.find(recentDictationsTag)) {
        fillRecent(*recent);
        item_.setMenu(menu_);
    }
}

void MenuBarController::fillRecent(MenuItem& item) const {
    item.enabled = !recent_.empty();
    item.submenu.clear();
    int tag = firstRecentTag;
    for (const auto& text : recent_) {
        MenuItem entry;
        entry.title = UnicodeText::oneLine(text, recentTitleLength);
        entry.tag = tag++;
        entry.action = weak_.bindWeak([text](MenuBarController& self) {
            if (self.onCopyRecent) {
                self.onCopyRecent(text);
            }
        });
        item.submenu.push_back(std::move(entry));
    }
}

void MenuBarController::apply(AppState state) {
    if (errorResetTimer_) {
        errorResetTimer_->invalidate();
        errorResetTimer_.reset();
    }
    const Icon icon = iconFor(state);
    item_.setIcon(icon.symbol, icon.tint);
    if (state == AppState::error) {
        errorResetTimer_ =
            runLoop_.schedule(errorResetSeconds, false,
                              weak_.bindWeak([](MenuBarController& self) { self.apply(AppState::idle); }));
    }
}

void MenuBarController::buildMenu() {
    MenuItem retry;
    retry.title = texts_.retryItem;
    retry.tag = retryTag;
    retry.hidden = true;
    retry.action = weak_.bindWeak([](MenuBarController& self) {
        if (self.onRetry) {
            self.onRetry();
        }
    });

    MenuItem hotkey;
    hotkey.title = texts_.hotkeyItem;
    hotkey.tag = hotkeyTag;
    for (const auto& choice : texts_.hotkeyChoices) {
        MenuItem entry;
        entry.title = choice.title;
        entry.tag = choice.keyCode;
        const std::uint16_t code = choice.keyCode;
        entry.action = weak_.bindWeak([code](MenuBarController& self) { self.selectHotkey(code); });
        hotkey.submenu.push_back(std::move(entry));
    }

    MenuItem recent;
    recent.title = texts_.recentDictationsItem;
    recent.tag = recentDictationsTag;
    fillRecent(recent);

    MenuItem pasting;
    pasting.title = texts_.insertByPastingItem;
    pasting.tag = insertByPastingTag;
    pasting.action = weak_.bindWeak([](MenuBarController& self) {
        self.selectInsertion(InsertionSettings::byTypingKey, false);
    });
    MenuItem typing;
    typing.title = texts_.insertByTypingItem;
    typing.tag = insertByTypingTag;
    typing.action = weak_.bindWeak([](MenuBarController& self) {
        self.selectInsertion(InsertionSettings::byTypingKey, true);
    });
    MenuItem space;
    space.title = texts_.spaceAfterTextItem;
    space.tag = spaceAfterTextTag;
    space.action = weak_.bindWeak([](MenuBarController& self) {
        self.selectInsertion(InsertionSettings::spaceAfterKey,
                             !InsertionSettings::spaceAfter(self.defaults_));
    });

    MenuItem versionLine;
    versionLine.title = texts_.versionPrefix + version(bundle_);
    versionLine.enabled = false;

    MenuItem updates;
    updates.title = texts_.checkUpdatesItem;
    updates.tag = checkUpdatesTag;
    updates.action = weak_.bindWeak([](MenuBarController& self) {
        if (self.onCheckUpdates) {
            self.onCheckUpdates();
        }
    });

    MenuItem quit;
    quit.title = texts_.quitItem;
    // Ctrl+Q. Appended, not assigned from a literal: GCC 12 at -O3 warns of an overlap that
    // cannot happen (-Wrestrict) when a short literal is assigned to a string here.
    quit.shortcut.push_back('q');
    quit.action = weak_.bindWeak([](MenuBarController& self) {
        if (self.onQuit) {
            self.onQuit();
        }
    });

    std::vector<MenuItem> items;
    items.push_back(std::move(retry));
    items.push_back(std::move(recent));
    items.push_back(MenuItem::separator());
    items.push_back(std::move(hotkey));
    items.push_back(std::move(pasting));
    items.push_back(std::move(typing));
    items.push_back(std::move(space));
    items.push_back(MenuItem::separator());
    items.push_back(std::move(versionLine));
    items.push_back(std::move(updates));
    items.push_back(std::move(quit));
    menu_.items = std::move(items);
    refreshChecks();
}

void MenuBarController::refreshChecks() {
    const std::uint16_t code = HotkeySetting::read(defaults_);
    for (const auto& choice : texts_.hotkeyChoices) {
        if (MenuItem* entry = menu_.find(choice.keyCode)) {
            entry->checked = choice.keyCode == code;
        }
    }
    const bool typing = InsertionSettings::byTyping(defaults_);
    menu_.find(insertByPastingTag)->checked = !typing;
    menu_.find(insertByTypingTag)->checked = typing;
    menu_.find(spaceAfterTextTag)->checked = InsertionSettings::spaceAfter(defaults_);
    item_.setMenu(menu_);
}

void MenuBarController::selectHotkey(std::uint16_t keyCode) {
    HotkeySetting::write(defaults_, keyCode);
    refreshChecks();
    if (onHotkeyChosen) {
        onHotkeyChosen(keyCode);
    }
}

void MenuBarController::setDesktopTrigger(const std::optional<std::string>& trigger) {
    std::vector<MenuItem>& choices = menu_.find(hotkeyTag)->submenu;
    if (!choices.empty() && choices.front().tag == desktopTriggerTag) {
        choices.erase(choices.begin());
    }
    if (trigger) {
        MenuItem bound;
        bound.title = (trigger->empty() ? texts_.hotkeyUnassigned : *trigger) +
                      texts_.hotkeySetBySystemSuffix;
        bound.tag = desktopTriggerTag;
        bound.enabled = false;
        choices.insert(choices.begin(), std::move(bound));
    }
    item_.setMenu(menu_);
}

void MenuBarController::selectInsertion(const char* key, bool value) {
    defaults_.setBoolean(key, value);
    refreshChecks();
}

std::string MenuBarController::currentHotkeyTitle(const UserDefaults& defaults,
                                                  const Texts& texts) {
    const std::uint16_t code = HotkeySetting::read(defaults);
    for (const auto& choice : texts.hotkeyChoices) {
        if (choice.keyCode == code) {
            return shortTitle(choice.title);
        }
    }
    return texts.defaultHotkeyTitle;
}

std::string MenuBarController::version(const Bundle& bundle) {
    return bundle.shortVersion().value_or("?");
}

}  // namespace sayloft
