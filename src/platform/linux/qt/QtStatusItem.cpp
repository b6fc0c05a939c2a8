#include "platform/linux/qt/QtStatusItem.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QKeySequence>
#include <QMenu>
#include <QShortcut>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <utility>

namespace sayloft {

// One QAction of the shown menu and what it runs. Entries mirror the Menu tree, so a new Menu of
// the same shape updates the actions in place: a menu that is open while the state changes stays
// open, and an action may replace the menu from inside its own handler.
struct QtStatusItem::Entry {
    MenuItem::Kind kind = MenuItem::Kind::action;
    int tag = 0;
    std::string shortcut;
    QAction* action = nullptr;  // owned by its QMenu
    std::unique_ptr<QMenu> submenu;
    std::shared_ptr<std::function<void()>> run = std::make_shared<std::function<void()>>();
    std::vector<Entry> children;
};

namespace {

QString qstring(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QKeySequence keySequence(const std::string& shortcut);

void apply(QAction& action, const MenuItem& item) {
    action.setText(qstring(item.title));
    action.setVisible(!item.hidden);
    action.setEnabled(item.enabled);
    // Only a checked item shows a check box, so plain commands never look like options.
    action.setCheckable(item.checked);
    action.setChecked(item.checked);
    // Shown beside the title, and published to a StatusNotifierItem host with the menu
    // (dbusmenu's "shortcut" property); the host decides what the key does there.
    action.setShortcut(keySequence(item.shortcut));
}

QKeySequence keySequence(const std::string& shortcut) {
    return shortcut.empty() ? QKeySequence()
                            : QKeySequence(QStringLiteral("Ctrl+") + qstring(shortcut).toUpper());
}

void releaseLater(std::vector<QtStatusItem::Entry>& entries);

using Shortcuts = std::vector<std::pair<QKeySequence, std::weak_ptr<std::function<void()>>>>;

void collectShortcuts(const std::vector<QtStatusItem::Entry>& entries, Shortcuts& out) {
    for (const auto& entry : entries) {
        if (!entry.shortcut.empty() && !entry.submenu) {
            out.emplace_back(keySequence(entry.shortcut), entry.run);
        }
        collectShortcuts(entry.children, out);
    }
}

// A menu that Qt draws takes the keyboard while it is open, and Qt matches an action's shortcut
// only in the window of the widget the menu belongs to, which a tray menu has not: each open menu
// gets the shortcuts of the whole tree itself. They close the menus and run the item.
void installShortcuts(QMenu& menu, const std::vector<QtStatusItem::Entry>& entries,
                      const Shortcuts& shortcuts) {
    for (const auto& [sequence, run] : shortcuts) {
        auto* shortcut = new QShortcut(sequence, &menu);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, [run = run] {
            while (QWidget* popup = QApplication::activePopupWidget()) {
                popup->close();
            }
            if (const auto function = run.lock(); function && *function) {
                const std::function<void()> call = *function;
                call();
            }
        });
    }
    for (const auto& entry : entries) {
        if (entry.submenu) {
            installShortcuts(*entry.submenu, entry.children, shortcuts);
        }
    }
}

}  // namespace

namespace {

void releaseLater(std::vector<QtStatusItem::Entry>& entries) {
    for (auto& entry : entries) {
        releaseLater(entry.children);
        if (entry.submenu) {
            entry.submenu.release()->deleteLater();
        }
    }
}

}  // namespace

QtStatusItem::QtStatusItem(const std::string& tooltip)
    : tray_(std::make_unique<QSystemTrayIcon>()), menu_(std::make_unique<QMenu>()) {
    tray_->setToolTip(qstring(tooltip));
    tray_->setContextMenu(menu_.get());
    // Left click opens the menu as well: a tray icon with nothing else to do.
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && menu_) {
                             menu_->popup(QCursor::pos());
                         }
                     });
}

QtStatusItem::~QtStatusItem() {
    tray_->hide();
    tray_->setContextMenu(nullptr);
}

bool QtStatusItem::trayAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

std::string QtStatusItem::iconResource(const std::string& symbolName, std::optional<Tint>) {
    if (symbolName == "mic") {
        return ":/sayloft/icons/mic.svg";
    }
    if (symbolName == "mic.fill") {
        return ":/sayloft/icons/mic-fill.svg";
    }
    if (symbolName == "ellipsis.circle") {
        return ":/sayloft/icons/ellipsis-circle.svg";
    }
    if (symbolName == "exclamationmark.triangle") {
        return ":/sayloft/icons/exclamationmark-triangle.svg";
    }
    return {};
}

void QtStatusItem::setIcon(const std::string& symbolName, std::optional<Tint> tint) {
    currentIcon_ = iconResource(symbolName, tint);
    tray_->setIcon(currentIcon_.empty() ? QIcon() : QIcon(qstring(currentIcon_)));
    // Qt refuses to show a tray icon without an image: it appears with the first one.
    if (!currentIcon_.empty() && !tray_->isVisible()) {
        tray_->show();
    }
}

void QtStatusItem::setMenu(const Menu& menu) {
    if (sameShape(menu.items, entries_)) {
        update(menu.items, entries_);
    } else {
        rebuild(menu);
    }
}

bool QtStatusItem::sameShape(const std::vector<MenuItem>& items,
                             const std::vector<Entry>& entries) const {
    if (items.size() != entries.size()) {
        return false;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i].kind != entries[i].kind || items[i].tag != entries[i].tag ||
            items[i].shortcut != entries[i].shortcut ||
            items[i].submenu.empty() != (entries[i].submenu == nullptr) ||
            !sameShape(items[i].submenu, entries[i].children)) {
            return false;
        }
    }
    return true;
}

void QtStatusItem::rebuild(const Menu& menu) {
    // The old actions may be running the handler that asked for this menu: let Qt delete them
    // after it returns.
    QMenu* old = menu_.release();
    std::vector<Entry> oldEntries = std::move(entries_);
    releaseLater(oldEntries);
    old->deleteLater();
    entries_.clear();
    menu_ = std::make_unique<QMenu>();
    fill(*menu_, menu.items, entries_);
    Shortcuts shortcuts;
    collectShortcuts(entries_, shortcuts);
    installShortcuts(*menu_, entries_, shortcuts);
    tray_->setContextMenu(menu_.get());
}

void QtStatusItem::fill(QMenu& target, const std::vector<MenuItem>& items,
                        std::vector<Entry>& entries) {
    for (const auto& item : items) {
        Entry entry;
        entry.kind = item.kind;
        entry.tag = item.tag;
        entry.shortcut = item.shortcut;
        if (item.kind == MenuItem::Kind::separator) {
            entry.action = target.addSeparator();
            entry.action->setVisible(!item.hidden);
            entries.push_back(std::move(entry));
            continue;
        }
        if (!item.submenu.empty()) {
            entry.submenu = std::make_unique<QMenu>();
            fill(*entry.submenu, item.submenu, entry.children);
            entry.action = target.addMenu(entry.submenu.get());
        } else {
            entry.action = target.addAction(QString());
            std::weak_ptr<std::function<void()>> run = entry.run;
            QObject::connect(entry.action, &QAction::triggered, [run] {
                // A copy: the handler may replace the menu, and with it this function.
                if (const auto function = run.lock(); function && *function) {
                    const std::function<void()> call = *function;
                    call();
                }
            });
        }
        *entry.run = item.action;
        apply(*entry.action, item);
        entries.push_back(std::move(entry));
    }
}

void QtStatusItem::update(const std::vector<MenuItem>& items, std::vector<Entry>& entries) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        Entry& entry = entries[i];
        if (entry.kind == MenuItem::Kind::separator) {
            entry.action->setVisible(!items[i].hidden);
            continue;
        }
        *entry.run = items[i].action;
        apply(*entry.action, items[i]);
        if (entry.submenu) {
            update(items[i].submenu, entry.children);
        }
    }
}

}  // namespace sayloft
