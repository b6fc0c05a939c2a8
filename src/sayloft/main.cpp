// sayloft: the tray application. No window, no taskbar entry: a tray icon with its menu, a
// floating panel while dictating, notifications for failures.
//
// The composition root: it looks at the session (X11, Wayland and what the compositor offers),
// chooses one backend per capability, logs the choice once, and wires the backends into the
// application logic. It is the only code that sees both src/app and src/platform/linux.

#include <QApplication>
#include <QDBusConnection>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <QString>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "app/APIClientCrashUploader.h"
#include "app/APIClientService.h"
#include "app/AppDelegate.h"
#include "app/HotkeyMonitor.h"
#include "app/HotkeyRelay.h"
#include "app/HotkeySetting.h"
#include "app/InputRemedy.h"
#include "app/Texts.h"
#include "app/ThreadBackgroundTasks.h"
#include "app/UpdateController.h"
#include "app/WorkerQueue.h"
#include "core/config/Config.h"
#include "core/diagnostics/CrashReporter.h"
#include "core/diagnostics/DeliberateCrash.h"
#include "core/diagnostics/LatencyLog.h"
#include "core/diagnostics/OsVersion.h"
#include "core/hotkey/HotkeyCookie.h"
#include "core/l10n/L10n.h"
#include "core/net/APIClient.h"
#include "core/net/CurlSession.h"
#include "core/net/ServiceEndpoint.h"
#include "core/storage/KeychainStore.h"
#include "core/storage/UserDefaultsStore.h"
#include "core/storage/XdgDirs.h"
#include "core/update/UpdateBuildInfo.h"
#include "core/update/UpdateClient.h"
#include "platform/linux/crash/CrashHandler.h"
#include "platform/linux/dbus/DBusHotkeyService.h"
#include "platform/linux/dbus/DBusNotifications.h"
#include "platform/linux/dbus/DBusSessionEvents.h"
#include "platform/linux/dbus/MprisMediaPlayers.h"
#include "platform/linux/evdev/EvdevKeyEventMonitor.h"
#include "platform/linux/portal/GlobalShortcutsKeyEventMonitor.h"
#include "platform/linux/portal/LayoutKeysyms.h"
#include "platform/linux/portal/PortalProbe.h"
#include "platform/linux/portal/RemoteDesktopKeyboardEvents.h"
#include "platform/linux/pulse/PulseAudioEngine.h"
#include "platform/linux/pulse/PulseConnection.h"
#include "platform/linux/qt/InstalledBundle.h"
#include "platform/linux/qt/JsonUserDefaults.h"
#include "platform/linux/qt/QtAlerts.h"
#include "platform/linux/qt/QtPackageInstaller.h"
#include "platform/linux/qt/QtPanel.h"
#include "platform/linux/qt/QtRunLoop.h"
#include "platform/linux/qt/QtScreens.h"
#include "platform/linux/qt/QtStatusItem.h"
#include "platform/linux/qt/QtUpdateWindow.h"
#include "platform/linux/qt/QtWorkspace.h"
#include "platform/linux/service/LinuxLocalService.h"
#include "platform/linux/session/BackendChoice.h"
#include "platform/linux/session/SessionProbe.h"
#include "platform/linux/wayland/DataControlPasteboard.h"
#include "platform/linux/wayland/LayerShellPanel.h"
#include "platform/linux/wayland/VirtualKeyboardEvents.h"
#include "platform/linux/x11/QtPasteboard.h"
#include "platform/linux/x11/XInputKeyEventMonitor.h"
#include "platform/linux/x11/XTestKeyboardEvents.h"
#include "sayloft/NoKeyboardEvents.h"
#include "sayloft/NoPanel.h"
#include "sayloft/NoPasteboard.h"

namespace sayloft {
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

// Qt starts the platform plugin the session offers (xcb, wayland or offscreen) unless the user
// chose one; what Qt actually started decides whether a Qt window can be the panel (the
// layer-shell panel needs no Qt window) and whether the X clipboard is ours to set.
void startQtPlatform(const BackendChoice& choice) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", BackendChoice::qtPlatformName(choice.qtPlatform));
    }
}

void adjustToQtPlatform(BackendChoice& choice) {
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        if (choice.panel == BackendChoice::Panel::qtWindow) {
            choice.panel = BackendChoice::Panel::none;
        }
        if (choice.clipboard == BackendChoice::Clipboard::x11) {
            choice.clipboard = BackendChoice::Clipboard::none;
        }
    }
}

void logChoice(const BackendChoice& choice, const SessionOffer& offer) {
    for (const auto& line : choice.describe(offer)) {
        std::cerr << "sayloft: " << line.capability << ": " << line.route;
        if (!line.advice.empty()) {
            std::cerr << (line.works ? " (" : " -- MISSING: ") << line.advice
                      << (line.works ? ")" : "");
        }
        std::cerr << "\n";
    }
    if (choice.hotkey != BackendChoice::Hotkey::none) {
        return;
    }
    std::cerr << "sayloft: run \"sayloft-cli doctor\" for what to do\n";
}

// One Sayloft per login: the first start takes Sayloft's name on the session bus; a later one
// asks the holder to take over (it says so in a notification) and ends, with 0 when it answered
// and 1 when it did not within 2 s. Returns the exit status for a later start, nothing for the
// first (or when there is no session bus to ask: then Sayloft runs without the check).
std::optional<int> takeBusName(DBusHotkeyService& busName) {
    // Twice: the holder may quit between our attempt and our call.
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (busName.start()) {
            case DBusHotkeyService::Start::owner:
                return std::nullopt;
            case DBusHotkeyService::Start::noBus:
                std::cerr << "sayloft: cannot take the name " << DBusHotkeyService::serviceName
                          << " on the session bus (no bus?); a second start would not find "
                             "this Sayloft, and a compositor key binding cannot reach it\n";
                return std::nullopt;
            case DBusHotkeyService::Start::alreadyRunning:
                break;
        }
        switch (DBusHotkeyService::activateRunning(QDBusConnection::sessionBus())) {
            case DBusHotkeyService::Activation::answered:
                std::cerr << "sayloft: Sayloft is already running in this login; it was asked to "
                             "say so\n";
                return 0;
            case DBusHotkeyService::Activation::noAnswer:
                std::cerr << "sayloft: another Sayloft holds " << DBusHotkeyService::serviceName
                          << " on the session bus but did not answer within "
                          << DBusHotkeyService::activateTimeoutMs / 1000
                          << " s; not starting a second one\n";
                return 1;
            case DBusHotkeyService::Activation::notRunning:
                break;
        }
    }
    std::cerr << "sayloft: " << DBusHotkeyService::serviceName
              << " changes hands on the session bus; not starting a second Sayloft\n";
    return 1;
}

// The hotkey from a compositor key binding: a fresh cookie for this login and the relay that
// turns the calls to Sayloft's name into hotkey events. false when the binding cannot reach
// Sayloft (the relay then stays unavailable and the application says the hotkey cannot work).
// Stored once the compositor's key binding has reached Sayloft: the binding is in the
// compositor's configuration, so later starts need not ask for it before its first use, and
// choose it before the keyboards under /dev/input.
constexpr const char* keyBindingSeenKey = SessionOffer::keyBindingSeenKey;

// relayHotkey false (another route has the hotkey): a key binding's calls are only noted, so
// that a binding the user adds meanwhile is chosen from the next start.
bool acceptKeyBinding(DBusHotkeyService& busName, bool ownsName, const XdgDirs& dirs,
                      HotkeyRelay& relay, UserDefaults& defaults, bool relayHotkey = true) {
    if (!ownsName) {
        std::cerr << "sayloft: without Sayloft's name on the session bus the compositor key "
                     "binding cannot reach it; the hotkey cannot work\n";
        return false;
    }
    const auto cookie = HotkeyCookie::create(HotkeyCookie::location(dirs.runtimeDir));
    if (!cookie) {
        std::cerr << "sayloft: cannot write the hotkey cookie (is $XDG_RUNTIME_DIR set and "
                     "private?); the compositor key binding cannot reach Sayloft\n";
        return false;
    }
    if (!relayHotkey) {
        busName.acceptHotkey(*cookie, [&defaults](bool, std::int64_t) {
            if (!defaults.boolean(keyBindingSeenKey).value_or(false)) {
                defaults.setBoolean(keyBindingSeenKey, true);
                std::cerr << "sayloft: a compositor key binding reached Sayloft; it takes the "
                             "hotkey over from the next start\n";
            }
        });
        return true;
    }
    busName.acceptHotkey(*cookie, [&relay, &defaults](bool down, std::int64_t sentAt) {
        if (!relay.hasReported()) {
            defaults.setBoolean(keyBindingSeenKey, true);
        }
        if (down) {
            relay.press(sentAt);
        } else {
            relay.release(sentAt);
        }
    });
    relay.setAvailable(true);
    return true;
}

std::unique_ptr<KeyboardEvents> makeKeyboard(BackendChoice::Typing route,
                                             XInputKeyEventMonitor* xinput) {
    if (route == BackendChoice::Typing::virtualKeyboard) {
        auto keyboard = std::make_unique<VirtualKeyboardEvents>();
        if (keyboard->isAvailable()) {
            return keyboard;
        }
        std::cerr << "sayloft: the compositor refused a virtual keyboard; typing and pasting "
                     "cannot work\n";
        return std::make_unique<NoKeyboardEvents>();
    }
    if (route == BackendChoice::Typing::xtest) {
        // The keyboard tells the key monitor about its own synthetic keys, so that lifting a
        // held hotkey around a paste chord does not end the hold.
        return std::make_unique<XTestKeyboardEvents>(xinput);
    }
    return std::make_unique<NoKeyboardEvents>();
}

std::unique_ptr<Pasteboard> makePasteboard(BackendChoice::Clipboard route) {
    if (route == BackendChoice::Clipboard::dataControl) {
        auto pasteboard = std::make_unique<DataControlPasteboard>();
        if (pasteboard->isAvailable()) {
            return pasteboard;
        }
        std::cerr << "sayloft: the compositor's data-control clipboard could not be used; "
                     "the text is typed instead of pasted\n";
        return std::make_unique<NoPasteboard>();
    }
    if (route == BackendChoice::Clipboard::x11) {
        return std::make_unique<QtPasteboard>();
    }
    return std::make_unique<NoPasteboard>();
}

// Before any other call to the desktop portal: the grants the user gives are then kept under
// Sayloft's desktop entry (a portal without the registry finds the entry itself, or not).
void registerWithPortal() {
    std::string why;
    if (PortalProbe::registerApp(QDBusConnection::sessionBus(), QStringLiteral("sayloft"), why)) {
        std::cerr << "sayloft: registered as \"sayloft\" with the desktop portal\n";
    } else {
        std::cerr << "sayloft: " << why << "; the desktop may not name Sayloft in its dialogs\n";
    }
}

// The hotkey through the desktop's shortcuts portal: the chosen hotkey is proposed as the
// trigger, and each press or release stands for that hotkey's modifier event.
std::unique_ptr<GlobalShortcutsKeyEventMonitor> makeShortcuts(const UserDefaults& defaults,
                                                              const Texts& texts) {
    auto shortcuts = std::make_unique<GlobalShortcutsKeyEventMonitor>(
        QDBusConnection::sessionBus(),
        GlobalShortcutsKeyEventMonitor::Options{
            .description = texts.holdToTalkShortcut,
            .preferredTrigger =
                [&defaults] {
                    return GlobalShortcutsKeyEventMonitor::triggerFor(
                        HotkeySetting::read(defaults));
                },
            .eventFor =
                [&defaults](bool down) {
                    const std::uint16_t code = HotkeySetting::read(defaults);
                    const auto flag = HotkeyMonitor::flagFor(code);
                    return ModifierEvent{code, down && flag ? *flag : 0};
                },
        });
    shortcuts->start();
    return shortcuts;
}

// Typing through the desktop's remote desktop portal; also, unstarted, where no route types at
// all, so that a dictation is left on the clipboard with a notification instead of being lost.
std::unique_ptr<RemoteDesktopKeyboardEvents> makeRemoteKeyboard(
    bool start, unsigned portalVersion, RunLoop& runLoop, UserDefaults& defaults,
    Pasteboard& pasteboard, Notifications& notifications, const Texts& texts) {
    // Unstarted, it never types: no keymap to compile.
    auto layout = std::make_shared<const std::set<std::uint32_t>>(
        start ? LayoutKeysyms::ofThisSession() : std::set<std::uint32_t>{});
    auto keyboard = std::make_unique<RemoteDesktopKeyboardEvents>(
        QDBusConnection::sessionBus(), runLoop, defaults, pasteboard, notifications,
        RemoteDesktopKeyboardEvents::Options{
            .pasteYourself = {texts.pasteYourselfTitle, texts.pasteYourselfBody},
            .dialogEveryStart = {texts.typingPermissionTitle, texts.typingPermissionBody},
            .producible = [layout](std::uint32_t keysym) { return layout->count(keysym) > 0; },
        });
    RemoteDesktopKeyboardEvents* events = keyboard.get();
    keyboard->onChange = [events] {
        switch (events->state()) {
            case RemoteDesktopKeyboardEvents::State::running:
                std::cerr << "sayloft: typing through the desktop portal (RemoteDesktop)\n";
                break;
            case RemoteDesktopKeyboardEvents::State::unavailable:
                std::cerr << "sayloft: cannot type through the desktop portal: "
                          << events->failure()
                          << "; dictations are left on the clipboard with a notification to "
                             "paste them (Ctrl+V); restart Sayloft to be asked again\n";
                break;
            case RemoteDesktopKeyboardEvents::State::idle:
            case RemoteDesktopKeyboardEvents::State::starting:
                break;
        }
    };
    if (start) {
        keyboard->start(portalVersion);
    }
    return keyboard;
}

// The page the input setup alert opens: the help shipped with Sayloft, or the README of the
// source tree a build runs from.
std::string helpUrl(const Bundle& bundle) {
    if (const auto page = bundle.resource("help/index.html")) {
        return QUrl::fromLocalFile(QString::fromStdString(page->string())).toString().toStdString();
    }
    return QUrl::fromLocalFile(QStringLiteral(SAYLOFT_SOURCE_README)).toString().toStdString();
}

}  // namespace
}  // namespace sayloft

int main(int argc, char** argv) {
    using namespace sayloft;

    // First of all, so that a crash from here on leaves a report for the next start.
    const auto crashFolder = CrashReporter::defaultDirectory(XdgDirs::current().stateHome);
    if (!CrashHandler::install(crashFolder, {.appName = "Sayloft",
                                             .appVersion = Config::appVersion(),
                                             .osVersion = OsVersion::current()})) {
        std::cerr << "sayloft: cannot create the crash report folder " << crashFolder
                  << "; a crash would leave no report\n";
    }

    // Before anything else exists: an uncaught exception ends the process abnormally at once, as
    // a real crash would, so that crash reporting can be tried.
    if (hasArgument(argc, argv, "--crashtest")) {
        throw DeliberateCrash();
    }

    const SessionOffer offer = SessionProbe::probe();
    BackendChoice choice = BackendChoice::choose(offer);
    startQtPlatform(choice);

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Sayloft"));
    QApplication::setDesktopFileName(QStringLiteral("sayloft"));
    // A tray application: the panel coming and going must never end the process.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals();

    DBusHotkeyService busName(QDBusConnection::sessionBus());
    if (const auto status = takeBusName(busName)) {
        return *status;
    }
    const bool ownsBusName = busName.start() == DBusHotkeyService::Start::owner;

    adjustToQtPlatform(choice);
    logChoice(choice, offer);

    const bool chinese = L10n::isZh();
    const Texts& texts = Texts::forLanguage(chinese);
    const XdgDirs dirs = XdgDirs::current();

    QtRunLoop runLoop;
    QtStatusItem statusItem(texts.productName);
    if (!QtStatusItem::trayAvailable()) {
        std::cerr << "sayloft: the desktop offers no system tray (no StatusNotifierWatcher on the "
                     "session bus, no XEmbed tray); dictation works, but there is no icon or "
                     "menu (run \"sayloft-cli doctor\")\n";
    }
    // The pointer's screen places the panel on X11 only (see QtScreens).
    QtScreens screens(!offer.waylandSession);
    JsonUserDefaults defaults(UserDefaultsStore::defaultLocation(dirs.configHome));
    const InstalledBundle bundle = InstalledBundle::current();

    std::unique_ptr<XInputKeyEventMonitor> xinput;
    std::unique_ptr<EvdevKeyEventMonitor> evdev;
    std::unique_ptr<GlobalShortcutsKeyEventMonitor> shortcuts;
    if (choice.hotkey == BackendChoice::Hotkey::portal ||
        choice.typing == BackendChoice::Typing::remoteDesktop) {
        registerWithPortal();
    }
    HotkeyRelay relay(defaults);
    bool keyBindingReaches = false;
    KeyEventMonitor* keyEvents = &relay;  // unavailable unless a route below makes it work
    if (choice.hotkey == BackendChoice::Hotkey::xinput) {
        xinput = std::make_unique<XInputKeyEventMonitor>();
        keyEvents = xinput.get();
    } else if (choice.hotkey == BackendChoice::Hotkey::evdev) {
        evdev = std::make_unique<EvdevKeyEventMonitor>();
        keyEvents = evdev.get();
        if (offer.waylandSession) {
            acceptKeyBinding(busName, ownsBusName, dirs, relay, defaults, false);
        }
    } else if (choice.hotkey == BackendChoice::Hotkey::portal) {
        shortcuts = makeShortcuts(defaults, texts);
        keyEvents = shortcuts.get();
        acceptKeyBinding(busName, ownsBusName, dirs, relay, defaults, false);
    } else if (choice.hotkey == BackendChoice::Hotkey::compositorBinding) {
        keyBindingReaches = acceptKeyBinding(busName, ownsBusName, dirs, relay, defaults);
    }
    const auto pasteboard = makePasteboard(choice.clipboard);
    DBusNotifications notifications(QDBusConnection::sessionBus(), texts.productName);
    const bool remoteTyping = choice.typing == BackendChoice::Typing::remoteDesktop;
    const std::unique_ptr<KeyboardEvents> keyboard =
        remoteTyping || choice.typing == BackendChoice::Typing::none
            ? makeRemoteKeyboard(remoteTyping, offer.remoteDesktopPortal, runLoop, defaults,
                                 *pasteboard, notifications, texts)
            : makeKeyboard(choice.typing, xinput.get());
    const bool typingWorks =
        remoteTyping || (choice.typing != BackendChoice::Typing::none &&
                         dynamic_cast<NoKeyboardEvents*>(keyboard.get()) == nullptr);

    DBusSessionEvents sessionEvents(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
    MprisMediaPlayers mediaPlayers(QDBusConnection::sessionBus());

    auto pulse = std::make_shared<PulseConnection>();
    WorkerQueue mediaQueue;
    // The user's own service is reached over its socket in $XDG_RUNTIME_DIR (ServiceEndpoint),
    // never through a loopback port that another user may hold; localService starts it there
    // when nothing answers (onboarding asks it to).
    const ServiceEndpoint endpoint = ServiceEndpoint::choose(Config::backendURL(), dirs.runtimeDir);
    std::cerr << "sayloft: the service: " << endpoint.describe() << "\n";
    LinuxLocalService localService(runLoop, endpoint, LinuxLocalService::forThisUser(dirs));
    const APIClient client(endpoint);
    APIClientService service(client);
    // A token file that others may read is made private at the first load that finds it so.
    const KeychainStore keychain(
        dirs.dataHome, KeychainStore::Access::readWrite,
        [](const std::string& line) { std::cerr << "sayloft: " << line << "\n"; });
    const LatencyLog latencyLog(LatencyLog::defaultLocation(dirs.stateHome));
    WorkerQueue logQueue;  // after latencyLog: at quit it finishes writing before the log goes
    QtAlerts alerts;
    QtWorkspace workspace;
    // Sayloft sees the hotkey and types when both routes work: on X11 when the display has
    // XInput 2 and XTEST; from /dev/input while a keyboard is readable; with the compositor key
    // binding once it has reported (in this run or an earlier one).
    const auto inputReady = [&choice, &xinput, &evdev, &shortcuts, keyBindingReaches, &relay,
                             &defaults, typingWorks] {
        switch (choice.hotkey) {
            case BackendChoice::Hotkey::xinput:
                return typingWorks && xinput->isTrusted();
            case BackendChoice::Hotkey::evdev:
                return typingWorks && evdev->isTrusted();
            case BackendChoice::Hotkey::compositorBinding:
                return typingWorks && keyBindingReaches &&
                       (relay.hasReported() || defaults.boolean(keyBindingSeenKey).value_or(false));
            case BackendChoice::Hotkey::portal:
                // While the desktop binds (its own dialog may be open) the hotkey counts as
                // ready: only a refusal needs Sayloft's own setup alert.
                return typingWorks &&
                       shortcuts->state() != GlobalShortcutsKeyEventMonitor::State::failed;
            case BackendChoice::Hotkey::none:
                break;
        }
        return false;
    };
    const InputRemedy inputRemedy = choice.hotkey == BackendChoice::Hotkey::compositorBinding &&
                                            keyBindingReaches && typingWorks
                                        ? InputRemedy::keyBinding
                                        : InputRemedy::newLogin;
    APIClientCrashUploader crashUploader(client);
    // Software updates, in a build with a feed (SAYLOFT_UPDATE_FEED_URL); the client is used
    // by the tasks and so is made before them.
    const std::string updateFeed = SAYLOFT_UPDATE_FEED_URL;
    UpdateClient updateSource({
        .feedUrl = updateFeed,
        .runningVersion = bundle.shortVersion().value_or(""),
        .publicKey = SAYLOFT_UPDATE_PUBLIC_KEY,
        .folder = dirs.cacheHome / "Sayloft" / "updates",
        .transport =
            [](std::size_t maxBytes) {
                return std::make_unique<CurlSession>(
                    CurlSession::Options{.maxResponseBytes = maxBytes});
            },
    });
    // Last of what the tasks use, so that it is gone (its tasks stopped and joined) first.
    ThreadBackgroundTasks tasks;
    QtUpdateWindow updateWindow;
    QtPackageInstaller packageInstaller;
    UpdateController updates({
        .runLoop = runLoop,
        .tasks = tasks,
        .source = updateSource,
        .notifications = notifications,
        .alerts = alerts,
        .workspace = workspace,
        .window = updateWindow,
        .installer = packageInstaller,
        .texts = UpdateTexts::forLanguage(chinese),
        .runningVersion = bundle.shortVersion().value_or("?"),
    });

    AppDelegate delegate(AppDelegate::Dependencies{
        .runLoop = runLoop,
        .keyEvents = *keyEvents,
        .sessionEvents = sessionEvents,
        .pasteboard = *pasteboard,
        .keyboard = *keyboard,
        .statusItem = statusItem,
        .screens = screens,
        .makePanel = [route = choice.panel, &screens]() -> std::unique_ptr<Panel> {
            switch (route) {
                case BackendChoice::Panel::qtWindow:
                    return std::make_unique<QtPanel>();
                case BackendChoice::Panel::layerShell:
                    return std::make_unique<LayerShellPanel>(screens);
                case BackendChoice::Panel::none:
                    break;
            }
            return std::make_unique<NoPanel>();
        },
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
        .logQueue = logQueue,
        .texts = texts,
        .pause = [](std::chrono::microseconds pause) { std::this_thread::sleep_for(pause); },
        .checkForUpdates = updateFeed.empty() ? std::function<void()>{}
                                              : [&updates] { updates.checkForUpdates(); },
        .onboarding =
            {
                .alerts = alerts,
                .workspace = workspace,
                .localService = localService,
                .serviceURL = Config::backendURL(),
                .inputReady = inputReady,
                .inputRemedy = inputRemedy,
                .hasDefaultInput = [pulse] { return pulse->defaultSource().has_value(); },
                .helpUrl = helpUrl(bundle),
            },
        .crashReports =
            {
                .directory = CrashReporter::defaultDirectory(dirs.stateHome),
                .osVersion = OsVersion::current(),
                .uploader = &crashUploader,
            },
    });
    busName.setOnActivate([&delegate] { delegate.activate(); });
    if (shortcuts) {
        // The menu shows a trigger the desktop chose itself; another choice there is proposed to
        // the desktop at once.
        GlobalShortcutsKeyEventMonitor* monitor = shortcuts.get();
        MenuBarController& menuBar = delegate.menuBar();
        shortcuts->onChange = [monitor, &menuBar, &delegate] {
            menuBar.setDesktopTrigger(monitor->desktopTrigger());
            if (monitor->state() == GlobalShortcutsKeyEventMonitor::State::bound) {
                std::cerr << "sayloft: hotkey: the desktop bound \"" << monitor->trigger()
                          << "\" (change it in System Settings)\n";
            } else if (monitor->state() == GlobalShortcutsKeyEventMonitor::State::failed) {
                std::cerr << "sayloft: hotkey: " << monitor->failure()
                          << "; run \"sayloft-cli doctor\" for the other routes\n";
                delegate.keyMonitorChanged();  // the user hears of it now
            }
        };
        menuBar.onHotkeyChosen = [monitor](std::uint16_t) { monitor->rebind(); };
    }
    runLoop.post([&delegate] { delegate.applicationDidFinishLaunching(); });
    if (!updateFeed.empty()) {
        updates.startScheduledChecks();
    }
    const int status = QApplication::exec();
    busName.setOnActivate({});
    if (shortcuts) {
        shortcuts->onChange = nullptr;  // the menu goes with the delegate
    }
    return status;
}
