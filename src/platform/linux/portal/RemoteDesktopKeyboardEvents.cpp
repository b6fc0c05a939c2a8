#include "platform/linux/portal/RemoteDesktopKeyboardEvents.h"

#include <utility>

#include <QtCore/QObject>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCall>

#include "core/text/UnicodeText.h"
#include "platform/ModifierEvent.h"
#include "platform/linux/portal/PortalRequest.h"
#include "platform/linux/wayland/VirtualKeyboardEvents.h"

namespace sayloft {
namespace {

const QString interface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
constexpr std::uint32_t keyboardDevice = 1;
constexpr std::uint32_t persistUntilRevoked = 2;
constexpr std::uint32_t shiftCode = 42;  // evdev: Left Shift
constexpr std::uint32_t insertCode = 110;
constexpr std::uint16_t insertKey = 114;  // the virtual key of Insert

// The evdev codes of the modifiers a stroke's flags hold, in pressing order.
constexpr std::pair<std::uint64_t, std::uint32_t> modifierCodes[] = {
    {ModifierFlag::control, 29},
    {ModifierFlag::option, 56},
    {ModifierFlag::command, 125},
    {ModifierFlag::shift, shiftCode},
};

std::string describeFailure(const char* step, const PortalResponse& response) {
    return response.describeFailure("RemoteDesktop", step,
                                    "the permission to type was cancelled in the desktop's dialog");
}

}  // namespace

// Receives the session's Closed signal.
class RemoteDesktopKeyboardEvents::Receiver : public QObject {
    Q_OBJECT

public:
    explicit Receiver(RemoteDesktopKeyboardEvents& owner) : owner_(owner) {}

public slots:
    void closed(const QDBusMessage& message) {
        if (!owner_.session_.isEmpty() && message.path() == owner_.session_) {
            owner_.session_.clear();
            owner_.fail("the desktop ended the remote desktop session");
        }
    }

private:
    RemoteDesktopKeyboardEvents& owner_;
};

RemoteDesktopKeyboardEvents::RemoteDesktopKeyboardEvents(QDBusConnection bus, RunLoop& runLoop,
                                                         UserDefaults& defaults,
                                                         Pasteboard& pasteboard,
                                                         Notifications& notifications,
                                                         Options options)
    : bus_(std::move(bus)),
      runLoop_(runLoop),
      defaults_(defaults),
      pasteboard_(pasteboard),
      notifications_(notifications),
      options_(std::move(options)),
      receiver_(std::make_unique<Receiver>(*this)) {
    bus_.connect(PortalDesktop::service, QString(), sessionInterface, QStringLiteral("Closed"),
                 receiver_.get(), SLOT(closed(QDBusMessage)));
}

RemoteDesktopKeyboardEvents::~RemoteDesktopKeyboardEvents() {
    request_.reset();
    closeSession();
}

void RemoteDesktopKeyboardEvents::start(unsigned portalVersion) {
    if (state_ == State::starting || state_ == State::running) {
        return;
    }
    persist_ = portalVersion >= 2;
    state_ = State::starting;
    failure_.clear();
    if (!persist_ && !defaults_.boolean(dialogExplainedKey).value_or(false)) {
        defaults_.setBoolean(dialogExplainedKey, true);
        notifications_.post(options_.dialogEveryStart.title, options_.dialogEveryStart.body);
    }
    request_ =
        PortalRequest::createSession(bus_, interface, [this](const PortalResponse& response) {
            if (response.outcome != PortalResponse::Outcome::granted) {
                fail(describeFailure("creating a session", response));
                return;
            }
            session_ =
                PortalRequest::pathOf(response.results.value(QStringLiteral("session_handle")));
            selectDevices();
        });
    changed();
}

void RemoteDesktopKeyboardEvents::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), QVariant::fromValue(keyboardDevice)}};
    if (persist_) {
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(persistUntilRevoked));
        if (const auto token = defaults_.text(restoreTokenKey); token && !token->empty()) {
            options.insert(QStringLiteral("restore_token"), QString::fromStdString(*token));
        }
    }
    request_ = std::make_unique<PortalRequest>(
        bus_, interface, QStringLiteral("SelectDevices"),
        QVariantList{QVariant::fromValue(QDBusObjectPath(session_)), options}, 1,
        [this](const PortalResponse& response) {
            if (response.outcome != PortalResponse::Outcome::granted) {
                closeSession();
                fail(describeFailure("selecting the keyboard", response));
                return;
            }
            startSession();
        });
}

void RemoteDesktopKeyboardEvents::startSession() {
    request_ = std::make_unique<PortalRequest>(
        bus_, interface, QStringLiteral("Start"),
        QVariantList{QVariant::fromValue(QDBusObjectPath(session_)), QString(), QVariantMap()}, 2,
        [this](const PortalResponse& response) {
            if (response.outcome != PortalResponse::Outcome::granted) {
                closeSession();
                fail(describeFailure("starting the session", response));
                return;
            }
            const auto devices = response.results.value(QStringLiteral("devices")).toUInt();
            if ((devices & keyboardDevice) == 0) {
                closeSession();
                fail("the desktop granted a remote desktop session without the keyboard");
                return;
            }
            const QString token =
                response.results.value(QStringLiteral("restore_token")).toString();
            if (persist_ && !token.isEmpty()) {
                defaults_.setText(restoreTokenKey, token.toStdString());
            }
            state_ = State::running;
            changed();
        });
}

void RemoteDesktopKeyboardEvents::fail(std::string why) {
    state_ = State::unavailable;
    failure_ = std::move(why);
    changed();
}

void RemoteDesktopKeyboardEvents::closeSession() {
    if (session_.isEmpty()) {
        return;
    }
    bus_.asyncCall(QDBusMessage::createMethodCall(PortalDesktop::service, session_,
                                                  sessionInterface, QStringLiteral("Close")));
    session_.clear();
}

void RemoteDesktopKeyboardEvents::changed() {
    if (onChange) {
        onChange();
    }
}

void RemoteDesktopKeyboardEvents::post(const KeyStroke& stroke) {
    if (state_ != State::running) {
        if (stroke.down && !stroke.text.empty()) {
            keepForPasting(stroke.text);
        } else if (stroke.down && stroke.virtualKey == insertKey) {
            keepForPasting({});
        }
        return;
    }
    // The key-up after a key-down that carried text belongs to that text, typed already.
    if (!stroke.text.empty() || (!stroke.down && textKeysDown_.erase(stroke.virtualKey) > 0)) {
        if (stroke.down) {
            textKeysDown_.insert(stroke.virtualKey);
            type(stroke.text);
        }
        return;
    }
    if (const auto code = VirtualKeyboardEvents::evdevCode(stroke.virtualKey)) {
        key(*code, stroke.down, stroke.flags);
    }
}

void RemoteDesktopKeyboardEvents::type(const std::u16string& text) {
    std::vector<std::uint32_t> keysyms;
    bool producible = true;
    for (const char32_t c : UnicodeText::typedCodePoints(text)) {
        const std::uint32_t keysym = VirtualKeyboardEvents::keysymFor(c);
        if (keysym == 0) {
            continue;
        }
        producible = producible && (!options_.producible || options_.producible(keysym));
        keysyms.push_back(keysym);
    }
    if (!producible) {
        pasteboard_.setText(QString::fromStdU16String(text).toStdString());
        key(insertCode, true, ModifierFlag::shift);
        key(insertCode, false, ModifierFlag::shift);
        return;
    }
    warmUp();
    for (const std::uint32_t keysym : keysyms) {
        notify(QStringLiteral("NotifyKeyboardKeysym"), static_cast<std::int32_t>(keysym), true);
        notify(QStringLiteral("NotifyKeyboardKeysym"), static_cast<std::int32_t>(keysym), false);
    }
}

void RemoteDesktopKeyboardEvents::key(std::uint32_t evdevCode, bool down, std::uint64_t flags) {
    warmUp();
    const auto code = static_cast<std::int32_t>(evdevCode);
    if (down) {
        for (const auto& [flag, modifier] : modifierCodes) {
            if ((flags & flag) != 0) {
                notify(QStringLiteral("NotifyKeyboardKeycode"), static_cast<std::int32_t>(modifier),
                       true);
            }
        }
        notify(QStringLiteral("NotifyKeyboardKeycode"), code, true);
        return;
    }
    notify(QStringLiteral("NotifyKeyboardKeycode"), code, false);
    for (auto it = std::rbegin(modifierCodes); it != std::rend(modifierCodes); ++it) {
        if ((flags & it->first) != 0) {
            notify(QStringLiteral("NotifyKeyboardKeycode"), static_cast<std::int32_t>(it->second),
                   false);
        }
    }
}

void RemoteDesktopKeyboardEvents::warmUp() {
    if (warmedUp_) {
        return;
    }
    warmedUp_ = true;
    notify(QStringLiteral("NotifyKeyboardKeycode"), shiftCode, true);
    notify(QStringLiteral("NotifyKeyboardKeycode"), shiftCode, false);
}

void RemoteDesktopKeyboardEvents::notify(const QString& method, std::int32_t value, bool down) {
    QDBusMessage call = QDBusMessage::createMethodCall(PortalDesktop::service, PortalDesktop::path,
                                                       interface, method);
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap() << value
         << static_cast<std::uint32_t>(down ? 1 : 0);
    // In order on this connection; the replies carry nothing of use.
    bus_.asyncCall(call);
}

void RemoteDesktopKeyboardEvents::keepForPasting(const std::u16string& text) {
    if (!text.empty()) {
        unpasted_ += QString::fromStdU16String(text).toStdString();
        pasteboard_.setText(unpasted_);
    }
    if (notificationDue_) {
        return;
    }
    notificationDue_ = true;
    // After the whole insertion, which posts all its strokes in one turn of the loop.
    runLoop_.post([weak = std::weak_ptr<RemoteDesktopKeyboardEvents*>(self_)] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        RemoteDesktopKeyboardEvents& events = **self;
        events.notificationDue_ = false;
        events.unpasted_.clear();
        events.notifications_.post(events.options_.pasteYourself.title,
                                   events.options_.pasteYourself.body);
    });
}

}  // namespace sayloft

#include "RemoteDesktopKeyboardEvents.moc"
