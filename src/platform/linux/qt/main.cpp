// sayloft: the tray application. No window, no taskbar entry: a tray icon with its menu, a
// floating panel while dictating, notifications for failures.

#include <QApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

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

int quitSocket[2] = {-1, -1};

void requestQuit(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(quitSocket[1], &byte, 1);
}

// SIGTERM (logout, systemctl, kill) and SIGINT end the event loop as Quit does, so that
// everything is torn down in order (background work stopped and joined, the keyboard map
// restored) instead of the process vanishing mid-way. The handler only writes a byte; the event
// loop does the rest.
void quitOnTerminationSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSocket) != 0) {
        return;  // the default action (ending at once) stays
    }
    auto* notifier =
        new QSocketNotifier(quitSocket[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = requestQuit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
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
    quitOnTerminationSignals();

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
