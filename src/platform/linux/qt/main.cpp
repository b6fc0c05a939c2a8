// sayloft: the tray application. No window, no taskbar entry: a tray icon with its menu, a
// floating panel while dictating, notifications for failures.

#include <QApplication>
#include <QDBusConnection>
#include <chrono>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

#include "app/APIClientService.h"
#include "app/AppDelegate.h"
#include "app/Texts.h"
#include "app/ThreadBackgroundTasks.h"
#include "app/WorkerQueue.h"
#include "core/config/Config.h"
#include "core/diagnostics/LatencyLog.h"
#include "core/l10n/L10n.h"
#include "core/net/APIClient.h"
#include "core/storage/KeychainStore.h"
#include "core/storage/UserDefaultsStore.h"
#include "core/storage/XdgDirs.h"
#include "platform/linux/dbus/DBusNotifications.h"
#include "platform/linux/dbus/DBusSessionEvents.h"
#include "platform/linux/dbus/MprisMediaPlayers.h"
#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"
#include "platform/linux/qt/InstalledBundle.h"
#include "platform/linux/qt/JsonUserDefaults.h"
#include "platform/linux/qt/QtPanel.h"
#include "platform/linux/qt/QtRunLoop.h"
#include "platform/linux/qt/QtScreens.h"
#include "platform/linux/qt/QtStatusItem.h"
#include "platform/linux/x11/QtPasteboard.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"
#include "platform/linux/x11/XTestKeyboardEvents.h"

namespace {

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], wanted) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sayloft;

    // Before anything exists: an uncaught exception ends the process abnormally at once, as a
    // real crash would, so that crash reporting can be tried.
    if (hasArgument(argc, argv, "--crashtest")) {
        throw std::runtime_error("crashtest: deliberate crash");
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sayloft"));
    QApplication::setDesktopFileName(QStringLiteral("sayloft"));
    // A tray application: the panel coming and going must never end the process.
    QApplication::setQuitOnLastWindowClosed(false);

    const bool chinese = L10n::isZh();
    const Texts& texts = Texts::forLanguage(chinese);
    const XdgDirs dirs = XdgDirs::current();

    QtRunLoop runLoop;
    QtStatusItem statusItem(chinese ? "言泉" : "Sayloft");
    if (!QtStatusItem::trayAvailable()) {
        std::cerr << "sayloft: the desktop offers no system tray (no StatusNotifierWatcher on the "
                     "session bus, no XEmbed tray); dictation works, but there is no icon or "
                     "menu (run \"sayloft-cli doctor\")\n";
    }
    QtScreens screens;
    JsonUserDefaults defaults(UserDefaultsStore::defaultLocation(dirs.configHome));
    const InstalledBundle bundle = InstalledBundle::current();

    XInputKeyEventMonitor keyEvents;
    if (!keyEvents.isTrusted()) {
        std::cerr << "sayloft: no X display with XInput 2 and XTEST; the hotkey cannot work "
                     "(run \"sayloft-cli doctor\")\n";
    }
    // The keyboard tells the key monitor about its own synthetic keys, so that lifting a held
    // hotkey around a paste chord does not end the hold.
    XTestKeyboardEvents keyboard(&keyEvents);
    QtPasteboard pasteboard;
    DBusSessionEvents sessionEvents(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    DBusNotifications notifications(QDBusConnection::sessionBus());
    MprisMediaPlayers mediaPlayers(QDBusConnection::sessionBus());

    auto pulse = std::make_shared<PulseConnection>();
    WorkerQueue mediaQueue;
    const APIClient client(Config::backendURL());
    APIClientService service(client);
    const KeychainStore keychain(dirs.dataHome);
    const LatencyLog latencyLog(LatencyLog::defaultLocation(dirs.stateHome));
    // Last of what the tasks use, so that it is gone (its tasks stopped and joined) first.
    ThreadBackgroundTasks tasks;

    AppDelegate delegate(AppDelegate::Dependencies{
        .runLoop = runLoop,
        .keyEvents = keyEvents,
        .sessionEvents = sessionEvents,
        .pasteboard = pasteboard,
        .keyboard = keyboard,
        .statusItem = statusItem,
        .screens = screens,
        .makePanel = [] { return std::make_unique<QtPanel>(); },
        .notifications = notifications,
        .defaults = defaults,
        .bundle = bundle,
        .mediaPlayers = mediaPlayers,
        .mediaQueue = mediaQueue,
        .makeAudioEngine = PulseAudioEngine::factory(pulse),
        .service = service,
        .tasks = tasks,
        .keychain = keychain,
        .latencyLog = latencyLog,
        .texts = texts,
        .pause = [](std::chrono::microseconds pause) { std::this_thread::sleep_for(pause); },
        .checkForUpdates = {},
    });
    runLoop.post([&delegate] { delegate.applicationDidFinishLaunching(); });
    return QApplication::exec();
}
