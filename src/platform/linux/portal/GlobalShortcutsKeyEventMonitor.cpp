#include "platform/linux/portal/GlobalShortcutsKeyEventMonitor.h"

#include <cctype>
#include <utility>
#include <vector>

#include <QtCore/QObject>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusObjectPath>
#include <QtDBus/QDBusPendingCall>

#include "platform/linux/portal/PortalRequest.h"
#include "platform/linux/portal/PortalShortcut.h"

namespace sayloft {
namespace {

const QString interface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

std::string squeezed(const std::string& text) {
    std::string result;
    for (const char c : text) {
        if (c != ' ' && c != '_' && c != '+' && c != '-') {
            result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return result;
}

std::string describeFailure(const char* step, const PortalResponse& response) {
    return response.describeFailure(
        "GlobalShortcuts", step,
        std::string("the shortcut was not accepted in the desktop's dialog (") + step + ")");
}

}  // namespace

// Receives the portal's signals: Activated, Deactivated and ShortcutsChanged on the portal
// object, Closed on the session.
class GlobalShortcutsKeyEventMonitor::Receiver : public QObject {
    Q_OBJECT

public:
    explicit Receiver(GlobalShortcutsKeyEventMonitor& owner) : owner_(owner) {}

public slots:
    void activated(const QDBusMessage& message) { shortcut(message, true); }
    void deactivated(const QDBusMessage& message) { shortcut(message, false); }
    void shortcutsChanged(const QDBusMessage& message) {
        const QVariantList arguments = message.arguments();
        if (arguments.size() >= 2 && PortalRequest::pathOf(arguments[0]) == owner_.session_) {
            owner_.setTrigger(arguments[1]);
            owner_.changed();
        }
    }
    void closed(const QDBusMessage& message) {
        if (message.path() == owner_.session_) {
            owner_.session_.clear();
            owner_.deliver(false);
            owner_.fail("the desktop closed the GlobalShortcuts session");
        }
    }

private:
    void shortcut(const QDBusMessage& message, bool down) {
        const QVariantList arguments = message.arguments();
        if (arguments.size() >= 2 && PortalRequest::pathOf(arguments[0]) == owner_.session_ &&
            arguments[1].toString() == QLatin1String(shortcutId)) {
            owner_.deliver(down);
        }
    }

    GlobalShortcutsKeyEventMonitor& owner_;
};

GlobalShortcutsKeyEventMonitor::GlobalShortcutsKeyEventMonitor(QDBusConnection bus, Options options)
    : bus_(std::move(bus)),
      options_(std::move(options)),
      receiver_(std::make_unique<Receiver>(*this)) {
    PortalShortcut::registerWithDBus();
    const std::pair<const char*, const char*> portalSignals[] = {
        {"Activated", SLOT(activated(QDBusMessage))},
        {"Deactivated", SLOT(deactivated(QDBusMessage))},
        {"ShortcutsChanged", SLOT(shortcutsChanged(QDBusMessage))},
    };
    for (const auto& [name, slot] : portalSignals) {
        bus_.connect(PortalDesktop::service, PortalDesktop::path, interface, QLatin1String(name),
                     receiver_.get(), slot);
    }
    bus_.connect(PortalDesktop::service, QString(), sessionInterface, QStringLiteral("Closed"),
                 receiver_.get(), SLOT(closed(QDBusMessage)));
}

GlobalShortcutsKeyEventMonitor::~GlobalShortcutsKeyEventMonitor() {
    request_.reset();
    closeSession();
}

void GlobalShortcutsKeyEventMonitor::start() {
    if (state_ == State::binding || state_ == State::bound) {
        return;
    }
    createSession();
}

void GlobalShortcutsKeyEventMonitor::rebind() {
    request_.reset();
    deliver(false);
    closeSession();
    createSession();
}

void GlobalShortcutsKeyEventMonitor::createSession() {
    state_ = State::binding;
    failure_.clear();
    trigger_.clear();
    request_ =
        PortalRequest::createSession(bus_, interface, [this](const PortalResponse& response) {
            if (response.outcome != PortalResponse::Outcome::granted) {
                fail(describeFailure("creating a session", response));
                return;
            }
            session_ =
                PortalRequest::pathOf(response.results.value(QStringLiteral("session_handle")));
            bindShortcut();
        });
    changed();
}

void GlobalShortcutsKeyEventMonitor::bindShortcut() {
    proposed_ = options_.preferredTrigger ? options_.preferredTrigger() : std::string();
    QVariantMap properties{
        {QStringLiteral("description"), QString::fromStdString(options_.description)}};
    if (!proposed_.empty()) {
        properties.insert(QStringLiteral("preferred_trigger"), QString::fromStdString(proposed_));
    }
    const QList<PortalShortcut> shortcuts{{QLatin1String(shortcutId), properties}};
    const QVariantList arguments{QVariant::fromValue(QDBusObjectPath(session_)),
                                 QVariant::fromValue(shortcuts), QString(), QVariantMap()};
    request_ = std::make_unique<PortalRequest>(
        bus_, interface, QStringLiteral("BindShortcuts"), arguments, 3,
        [this](const PortalResponse& response) {
            if (response.outcome != PortalResponse::Outcome::granted) {
                closeSession();
                fail(describeFailure("binding the shortcut", response));
                return;
            }
            setTrigger(response.results.value(QStringLiteral("shortcuts")));
            state_ = State::bound;
            changed();
        });
}

void GlobalShortcutsKeyEventMonitor::setTrigger(const QVariant& shortcuts) {
    trigger_.clear();
    for (const PortalShortcut& shortcut : PortalShortcut::listFrom(shortcuts)) {
        if (shortcut.id == QLatin1String(shortcutId)) {
            trigger_ = shortcut.properties.value(QStringLiteral("trigger_description"))
                           .toString()
                           .toStdString();
        }
    }
}

std::optional<std::string> GlobalShortcutsKeyEventMonitor::desktopTrigger() const {
    if (state_ != State::bound || (!trigger_.empty() && describes(trigger_, proposed_))) {
        return std::nullopt;
    }
    return trigger_;
}

void GlobalShortcutsKeyEventMonitor::fail(std::string why) {
    state_ = State::failed;
    failure_ = std::move(why);
    changed();
}

void GlobalShortcutsKeyEventMonitor::closeSession() {
    if (session_.isEmpty()) {
        return;
    }
    QDBusMessage close = QDBusMessage::createMethodCall(PortalDesktop::service, session_,
                                                        sessionInterface, QStringLiteral("Close"));
    bus_.asyncCall(close);
    session_.clear();
}

void GlobalShortcutsKeyEventMonitor::deliver(bool down) {
    if (down == held_ || !options_.eventFor) {
        return;
    }
    held_ = down;
    const ModifierEvent event = options_.eventFor(down);
    // A handler may remove itself (or another) while being called.
    std::vector<Handler> handlers;
    for (const auto& [id, handler] : handlers_) {
        handlers.push_back(handler);
    }
    for (const auto& handler : handlers) {
        handler(event);
    }
}

void GlobalShortcutsKeyEventMonitor::changed() {
    if (onChange) {
        onChange();
    }
}

std::optional<KeyEventMonitor::MonitorId> GlobalShortcutsKeyEventMonitor::install(Handler handler) {
    if (state_ == State::failed) {
        return std::nullopt;
    }
    const MonitorId id = nextId_++;
    handlers_.emplace(id, std::move(handler));
    return id;
}

void GlobalShortcutsKeyEventMonitor::remove(MonitorId id) {
    handlers_.erase(id);
}

std::string GlobalShortcutsKeyEventMonitor::triggerFor(std::uint16_t keyCode) {
    switch (keyCode) {
        case 61:
            return "Alt_R";
        case 58:
            return "Alt_L";
        case 54:
            return "Super_R";
        case 55:
            return "Super_L";
        case 62:
            return "Control_R";
        case 59:
            return "Control_L";
        default:
            return "";
    }
}

bool GlobalShortcutsKeyEventMonitor::describes(const std::string& description,
                                               const std::string& trigger) {
    return !trigger.empty() && squeezed(description) == squeezed(trigger);
}

}  // namespace sayloft

#include "GlobalShortcutsKeyEventMonitor.moc"
