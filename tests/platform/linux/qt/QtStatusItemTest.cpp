// The tray item as a StatusNotifierItem: a mocked org.kde.StatusNotifierWatcher (python3-dbusmock)
// on the session bus of scripts/desktop-session stands in for the panel, and the test reads what
// a panel would read: the item's tooltip and icon, and its menu through com.canonical.dbusmenu.

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/linux/qt/QtStatusItem.h"
#include "qt/DBusMock.h"
#include "qt/QtWait.h"

namespace sayloft {
namespace {

using test::waitUntil;

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// The panel's side of the conversation. The tray item lives in this very process, so every call
// waits with a local event loop (BlockWithGui) that lets the item answer, on a connection of its
// own.
QDBusMessage ask(const QString& service, const QString& path, const QString& interface,
                 const QString& method, const QVariantList& args) {
    static QDBusConnection client =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "sayloft-test-panel");
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(args);
    return client.call(message, QDBus::BlockWithGui, 5000);
}

QDBusMessage getProperty(const QString& service, const QString& path, const QString& interface,
                         const QString& name) {
    return ask(service, path, "org.freedesktop.DBus.Properties", "Get", {interface, name});
}

MenuItem entry(std::string title, int tag = 0) {
    MenuItem made;
    made.title = std::move(title);
    made.tag = tag;
    return made;
}

// One node of a dbusmenu layout: (ia{sv}av).
struct LayoutItem {
    int id = 0;
    QVariantMap properties;
    std::vector<LayoutItem> children;

    QString label() const { return properties.value("label").toString().remove('_'); }
    bool visible() const { return properties.value("visible", true).toBool(); }
    bool enabled() const { return properties.value("enabled", true).toBool(); }
    int toggleState() const { return properties.value("toggle-state", -1).toInt(); }
};

LayoutItem readItem(const QDBusArgument& argument) {
    LayoutItem item;
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.push_back(readItem(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return item;
}

class QtStatusItemOnTheBus : public ::testing::Test {
protected:
    // The mock watcher, started before the first tray icon exists (Qt asks for a watcher once).
    static void SetUpTestSuite() {
        if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
            !qEnvironmentVariableIsEmpty("DISPLAY")) {
            watcher_ =
                test::DBusMock::fromTemplate(test::DBusMock::Bus::session, SAYLOFT_WATCHER_TEMPLATE,
                                             watcherService, "/StatusNotifierWatcher");
        }
    }
    static void TearDownTestSuite() { watcher_.reset(); }
    void SetUp() override {
        if (!watcher_) {
            GTEST_SKIP() << "needs a session bus and a display: run inside scripts/desktop-session";
        }
    }

    static LayoutItem layout(const QString& service, const QString& path) {
        const QDBusMessage reply =
            ask(service, path, "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return readItem(reply.arguments().value(1).value<QDBusArgument>());
    }

    // The bus name the first tray item registered under, once it has.
    static QString registeredItem() {
        const auto registered = [] { return watcher_->calls("RegisterStatusNotifierItem"); };
        waitUntil([&] { return !registered().empty(); });
        return registered().empty() ? QString() : registered().front().value(0).toString();
    }

    static std::unique_ptr<test::DBusMock> watcher_;
};

std::unique_ptr<test::DBusMock> QtStatusItemOnTheBus::watcher_;

// The share of clearly red pixels in the item's largest icon pixmap (ARGB32, network order).
double redShare(const QString& service) {
    const QDBusMessage reply =
        getProperty(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "IconPixmap");
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return -1;
    }
    const QDBusArgument pixmaps =
        reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
    int bestWidth = 0;
    QByteArray best;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> bytes;
        pixmaps.endStructure();
        if (width > bestWidth) {
            bestWidth = width;
            best = bytes;
        }
    }
    pixmaps.endArray();
    int visible = 0;
    int red = 0;
    for (qsizetype i = 0; i + 3 < best.size(); i += 4) {
        const auto a = static_cast<unsigned char>(best[i]);
        const auto r = static_cast<unsigned char>(best[i + 1]);
        const auto g = static_cast<unsigned char>(best[i + 2]);
        const auto b = static_cast<unsigned char>(best[i + 3]);
        if (a > 128) {
            ++visible;
            red += (r > 150 && g < 90 && b < 90) ? 1 : 0;
        }
    }
    return visible == 0 ? 0 : static_cast<double>(red) / visible;
}

TEST_F(QtStatusItemOnTheBus, RegistersAndShowsIconTooltipAndMenuOnTheBus) {
    QtStatusItem item("Sayloft");
    ASSERT_TRUE(QtStatusItem::trayAvailable());
    // The item appears with its first icon (Qt shows no tray icon without an image).
    item.setIcon("mic", std::nullopt);
    const QString service = registeredItem();
    ASSERT_FALSE(service.isEmpty()) << "the tray item never registered with the watcher";

    // Icons: the recording microphone is red, the idle one is not.
    item.setIcon("mic.fill", StatusItem::Tint::red);
    EXPECT_TRUE(waitUntil([&] { return redShare(service) > 0.3; })) << redShare(service);
    item.setIcon("mic", std::nullopt);
    EXPECT_TRUE(waitUntil([&] {
        const double share = redShare(service);
        return share >= 0 && share < 0.01;
    })) << redShare(service);
    EXPECT_EQ(item.currentIcon(), ":/sayloft/icons/mic.svg");

    // The menu: titles, hidden items, disabled items, check marks, submenu, Ctrl+Q.
    bool quitChosen = false;
    Menu menu;
    menu.items = {entry("Retry Last Recording", 103),
                  MenuItem::separator(),
                  entry("Hotkey"),
                  MenuItem::separator(),
                  entry("Sayloft 0.1.0"),
                  entry("Quit")};
    menu.items[0].hidden = true;
    menu.items[2].submenu = {entry("Right Alt (default)", 61), entry("Left Alt", 58)};
    menu.items[2].submenu[0].checked = true;
    menu.items[4].enabled = false;
    menu.items[5].shortcut = "q";
    menu.items[5].action = [&] { quitChosen = true; };
    item.setMenu(menu);

    const QString menuPath =
        getProperty(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Menu")
            .arguments()
            .value(0)
            .value<QDBusVariant>()
            .variant()
            .value<QDBusObjectPath>()
            .path();
    ASSERT_FALSE(menuPath.isEmpty());
    LayoutItem root;
    ASSERT_TRUE(waitUntil([&] {
        root = layout(service, menuPath);
        return root.children.size() == 6;
    }));
    EXPECT_EQ(root.children[0].label(), "Retry Last Recording");
    EXPECT_FALSE(root.children[0].visible());
    EXPECT_EQ(root.children[1].properties.value("type").toString(), "separator");
    EXPECT_EQ(root.children[2].label(), "Hotkey");
    ASSERT_EQ(root.children[2].children.size(), 2u);
    EXPECT_EQ(root.children[2].children[0].label(), "Right Alt (default)");
    EXPECT_EQ(root.children[2].children[0].toggleState(), 1);
    EXPECT_NE(root.children[2].children[1].toggleState(), 1);
    EXPECT_FALSE(root.children[4].enabled());
    EXPECT_EQ(root.children[5].label(), "Quit");
    const QDBusArgument shortcut =
        root.children[5].properties.value("shortcut").value<QDBusArgument>();
    QList<QStringList> keys;
    shortcut >> keys;
    ASSERT_EQ(keys.size(), 1);
    EXPECT_EQ(keys[0], (QStringList{"Control", "Q"}));

    // The same shape again: updated in place (the retry item appears, the check moves).
    menu.items[0].hidden = false;
    menu.items[2].submenu[0].checked = false;
    menu.items[2].submenu[1].checked = true;
    item.setMenu(menu);
    ASSERT_TRUE(waitUntil([&] {
        root = layout(service, menuPath);
        return root.children.size() == 6 && root.children[0].visible();
    }));
    EXPECT_NE(root.children[2].children[0].toggleState(), 1);
    EXPECT_EQ(root.children[2].children[1].toggleState(), 1);

    // Choosing Quit through the panel's protocol runs its action.
    ask(service, menuPath, "com.canonical.dbusmenu", "Event",
        {root.children[5].id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(waitUntil([&] { return quitChosen; }));
}

// Without a StatusNotifierItem host Sayloft draws the menu itself: Ctrl+Q, pressed as a person
// would (XTEST through xdotool) while the menu or one of its submenus is open, chooses Quit.
TEST(QtStatusItemDrawnBySayloft, CtrlQChoosesQuitWhileTheMenuIsOpen) {
    if (qgetenv("DISPLAY").isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb")) {
        GTEST_SKIP() << "needs an X display: run inside scripts/desktop-session";
    }
    for (const bool inSubmenu : {false, true}) {
        SCOPED_TRACE(inSubmenu ? "a submenu open" : "the menu open");
        QtStatusItem item("Sayloft");
        int quits = 0;
        Menu menu;
        menu.items = {entry("Hotkey"), entry("Quit")};
        menu.items[0].submenu = {entry("Right Alt (default)", 61)};
        menu.items[1].shortcut = "q";
        menu.items[1].action = [&] { ++quits; };
        item.setMenu(menu);

        QMenu* open = item.qmenu();
        open->popup(QPoint(100, 100));
        if (inSubmenu) {
            QMenu* submenu = open->actions().at(0)->menu();
            ASSERT_TRUE(waitUntil([&] { return open->isVisible(); }));
            open->setActiveAction(open->actions().at(0));
            submenu->popup(QPoint(300, 100));
            open = submenu;
        }
        ASSERT_TRUE(waitUntil([&] { return open->isVisible(); }));
        ASSERT_TRUE(waitUntil([&] { return QApplication::activePopupWidget() == open; }));
        EXPECT_EQ(QProcess::execute(QStringLiteral("xdotool"),
                                    {QStringLiteral("key"), QStringLiteral("ctrl+q")}),
                  0);
        EXPECT_TRUE(waitUntil([&] { return quits == 1; }, std::chrono::seconds(3)));
        EXPECT_TRUE(waitUntil([&] { return !item.qmenu()->isVisible(); }));
        EXPECT_EQ(quits, 1);  // once, not once per open menu
    }
}

}  // namespace
}  // namespace sayloft
