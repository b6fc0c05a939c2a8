#pragma once

// The fake desktop the application logic is tested on: each fake records what the code did and
// lets the test play the user or the desktop. Everything runs on the test's thread.

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Script.h"
#include "app/BackgroundTasks.h"
#include "app/CrashUploader.h"
#include "app/SerialQueue.h"
#include "app/StatusHUD.h"
#include "platform/Alerts.h"
#include "platform/Bundle.h"
#include "platform/KeyEventMonitor.h"
#include "platform/KeyboardEvents.h"
#include "platform/LocalService.h"
#include "platform/MediaPlayers.h"
#include "platform/Notifications.h"
#include "platform/PackageInstaller.h"
#include "platform/Panel.h"
#include "platform/Pasteboard.h"
#include "platform/Screens.h"
#include "platform/SessionEvents.h"
#include "platform/StatusItem.h"
#include "platform/UpdateWindow.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

namespace sayloft::test {

// Runs held work in order, and what that work adds meanwhile.
template <typename Task, typename... Args>
void runHeld(std::deque<Task>& held, const Args&... args) {
    while (!held.empty()) {
        Task task = std::move(held.front());
        held.pop_front();
        task(args...);
    }
}

class ManualBackgroundTasks final : public BackgroundTasks {
public:
    void run(Task task) override { held_.push_back(std::move(task)); }
    std::size_t size() const { return held_.size(); }
    void runAll() { runHeld(held_, stop_.get_token()); }

private:
    std::deque<Task> held_;
    std::stop_source stop_;
};

class ManualSerialQueue final : public SerialQueue {
public:
    void post(Task task) override { held_.push_back(std::move(task)); }
    void runAll() { runHeld(held_); }

private:
    std::deque<Task> held_;
};

// Settings in memory, typed as the real store keeps them.
class FakeUserDefaults final : public UserDefaults {
public:
    using Value = std::variant<std::int64_t, bool, Date, std::string>;
    std::map<std::string, Value> values;

    std::optional<std::int64_t> integer(const std::string& key) const override {
        return get<std::int64_t>(key);
    }
    std::optional<bool> boolean(const std::string& key) const override { return get<bool>(key); }
    std::optional<Date> date(const std::string& key) const override { return get<Date>(key); }
    std::optional<std::string> text(const std::string& key) const override {
        return get<std::string>(key);
    }
    void setInteger(const std::string& key, std::int64_t value) override { values[key] = value; }
    void setBoolean(const std::string& key, bool value) override { values[key] = value; }
    void setDate(const std::string& key, Date value) override { values[key] = value; }
    void setText(const std::string& key, const std::string& value) override { values[key] = value; }
    void remove(const std::string& key) override { values.erase(key); }

private:
    template <typename T>
    std::optional<T> get(const std::string& key) const {
        const auto found = values.find(key);
        if (found == values.end() || !std::holds_alternative<T>(found->second)) {
            return std::nullopt;
        }
        return std::get<T>(found->second);
    }
};

class FakeNotifications final : public Notifications {
public:
    struct Posted {
        std::string title;
        std::string body;
        friend bool operator==(const Posted&, const Posted&) = default;
    };
    std::vector<Posted> posted;

    void requestAuthorization() override {}
    void post(const std::string& title, const std::string& body) override {
        posted.push_back({title, body});
    }
};

class FakePasteboard final : public Pasteboard {
public:
    std::optional<std::string> text;  // nullopt: never set by the application
    std::vector<std::string> history;
    bool settable = true;  // false: a session without a clipboard this program can set

    void setText(std::string_view utf8) override {
        text = std::string(utf8);
        history.push_back(*text);
    }
    bool canSetText() const override { return settable; }
};

// Records every posted key event in order; onPost sees each as it is posted (to check what the
// clipboard held at that moment, for instance).
class FakeKeyboardEvents final : public KeyboardEvents {
public:
    std::vector<KeyStroke> strokes;
    std::function<void(const KeyStroke&)> onPost;

    void post(const KeyStroke& stroke) override {
        strokes.push_back(stroke);
        if (onPost) {
            onPost(stroke);
        }
    }
};

// Answers each alert from a script, as a user would: by the index of the button chosen (the
// first with the script empty). onShown sees the world while an alert is "open".
class FakeAlerts final : public Alerts {
public:
    int activations = 0;
    std::vector<Alert> shown;
    std::function<void(const Alert&)> onShown;

    void answer(std::size_t button) { script_.push({button}); }
    void activateApp() override { ++activations; }
    std::size_t runModal(const Alert& alert) override {
        shown.push_back(alert);
        if (onShown) {
            onShown(alert);
        }
        return script_.next(0);
    }
    std::vector<std::string> messages() const {
        std::vector<std::string> result;
        for (const Alert& alert : shown) {
            result.push_back(alert.message);
        }
        return result;
    }

private:
    Script<std::size_t> script_;
};

class FakeBundle final : public Bundle {
public:
    std::optional<std::string> shortVersion() const override { return "1.2.3"; }
    std::optional<std::filesystem::path> resource(const std::string&) const override {
        return std::nullopt;
    }
};

// Records the report sent and the token and OS version of the last upload; fails the uploads the
// test scripted to fail, in order.
class FakeCrashUploader final : public CrashUploader {
public:
    std::vector<std::string> uploads;
    std::string token;
    std::string osVersion;
    Script<bool> outcomes;

    void reportCrash(const std::string& newToken, std::span<const std::uint8_t> ips,
                     const std::string& os, std::stop_token) override {
        uploads.emplace_back(ips.begin(), ips.end());
        token = newToken;
        osVersion = os;
        outcomes.next(true);
    }
};

// send() delivers a modifier change to every installed monitor, as the desktop would.
class FakeKeyEventMonitor final : public KeyEventMonitor {
public:
    bool trusted = true;
    bool refuseInstall = false;  // install() fails even when trusted
    int installs = 0;

    bool isTrusted() const override { return trusted; }
    std::optional<MonitorId> install(Handler handler) override {
        ++installs;
        if (refuseInstall) {
            return std::nullopt;
        }
        handlers_[nextId_] = std::move(handler);
        return nextId_++;
    }
    void remove(MonitorId id) override { handlers_.erase(id); }
    std::size_t installed() const { return handlers_.size(); }
    // The key that changed and every flag held afterwards.
    void send(std::uint16_t keyCode, std::uint64_t flags) {
        const auto handlers = handlers_;  // a handler may reinstall
        for (const auto& [id, handler] : handlers) {
            handler(ModifierEvent{keyCode, flags});
        }
    }

private:
    std::map<MonitorId, Handler> handlers_;
    MonitorId nextId_ = 1;
};

// wake() reports a wake (or screen wake, session activation, unlock) to every observer.
class FakeSessionEvents final : public SessionEvents {
public:
    std::vector<Handler> handlers;
    void observe(Handler handler) override { handlers.push_back(std::move(handler)); }
    void wake() {
        for (const auto& handler : handlers) {
            handler();
        }
    }
};

// ensureRunning keeps its callback until the test calls finish(ok, reason).
class FakeLocalService final : public LocalService {
public:
    bool local = false;
    int ensureCalls = 0;

    bool isLocal() const override { return local; }
    void ensureRunning(Done done) override {
        ++ensureCalls;
        waiting_.push_back(std::move(done));
    }
    void finish(bool ok, const std::string& reason = {}) {
        Done done = std::move(waiting_.front());
        waiting_.pop_front();
        done(ok, reason);
    }

private:
    std::deque<Done> waiting_;
};

// The test says which players play; every call is logged ("playing", "pause:<id>", "play:<id>")
// with the time-out it carried.
class FakeMediaPlayers final : public MediaPlayers {
public:
    std::set<std::string> nowPlaying;
    std::vector<std::string> calls;
    std::vector<Timeout> timeouts;

    std::vector<std::string> playing(Timeout timeout) override {
        log("playing", timeout);
        return {nowPlaying.begin(), nowPlaying.end()};
    }
    void pause(const std::string& player, Timeout timeout) override {
        log("pause:" + player, timeout);
        nowPlaying.erase(player);
    }
    void play(const std::string& player, Timeout timeout) override {
        log("play:" + player, timeout);
        nowPlaying.insert(player);
    }

private:
    void log(std::string call, Timeout timeout) {
        calls.push_back(std::move(call));
        timeouts.push_back(timeout);
    }
};

class FakePackageInstaller final : public PackageInstaller {
public:
    bool available = true;  // whether the desktop has an installer
    std::vector<std::string> opened;
    bool open(const std::string& path) override {
        if (available) {
            opened.push_back(path);
        }
        return available;
    }
};

class FakeWorkspace final : public Workspace {
public:
    std::vector<std::string> opened;
    bool openUrl(const std::string& url) override {
        opened.push_back(url);
        return true;
    }
};

// What a test sees of the panels the HUD made; it stays readable while the HUD owns the panel.
struct PanelRecord {
    std::string text;
    Point origin;
    Size size{220, 48};
    bool visible = false;
};

class FakePanel final : public Panel {
public:
    explicit FakePanel(PanelRecord& record) : record_(record) {}
    void setText(std::string_view utf8) override { record_.text = std::string(utf8); }
    Size size() const override { return record_.size; }
    void setOrigin(Point origin) override { record_.origin = origin; }
    void orderFront() override { record_.visible = true; }
    void orderOut() override { record_.visible = false; }

    static StatusHUD::PanelFactory factory(PanelRecord& record) {
        return [&record] { return std::make_unique<FakePanel>(record); };
    }

private:
    PanelRecord& record_;
};

class FakeScreens final : public Screens {
public:
    std::optional<Point> mouse = Point{};
    std::vector<Screen> all;
    std::optional<Screen> main;
    std::optional<Point> mouseLocation() const override { return mouse; }
    std::vector<Screen> screens() const override { return all; }
    std::optional<Screen> mainScreen() const override { return main; }
};

// Keeps the icon and the last menu it was given; choose() acts like a click on a menu item.
class FakeStatusItem final : public StatusItem {
public:
    std::string icon;  // empty until setIcon
    std::optional<Tint> tint;
    std::vector<std::string> iconHistory;
    Menu menu;

    void setIcon(const std::string& symbolName, std::optional<Tint> iconTint) override {
        icon = symbolName;
        tint = iconTint;
        iconHistory.push_back(symbolName);
    }
    void setMenu(const Menu& newMenu) override { menu = newMenu; }
    const MenuItem* item(int tag) const { return menu.find(tag); }

    // Runs the action of the item with this tag (or top-level title); false when there is none,
    // or it is disabled or hidden.
    bool choose(int tag) { return click(menu.find(tag)); }
    bool choose(const std::string& title) {
        const auto found =
            std::find_if(menu.items.begin(), menu.items.end(),
                         [&](const MenuItem& entry) { return entry.title == title; });
        return click(found == menu.items.end() ? nullptr : &*found);
    }

private:
    static bool click(const MenuItem* found) {
        if (!found || !found->enabled || found->hidden || !found->action) {
            return false;
        }
        const auto action = found->action;  // the action may replace the menu
        action();
        return true;
    }
};

// Records the pages shown; the test presses buttons by title or closes the window.
class FakeUpdateWindow final : public UpdateWindow {
public:
    std::vector<UpdateWindowPage> pages;
    bool open = false;

    void show(const UpdateWindowPage& page, Chosen chosen) override {
        pages.push_back(page);
        chosen_ = std::move(chosen);
        open = true;
    }
    void close() override { open = false; }
    const UpdateWindowPage& current() const { return pages.back(); }
    // Presses the current page's button with this title; false when it has none.
    bool press(const std::string& title) {
        const auto& buttons = current().buttons;
        const auto found = std::find(buttons.begin(), buttons.end(), title);
        if (found == buttons.end()) {
            return false;
        }
        chosen_(static_cast<std::size_t>(found - buttons.begin()));
        return true;
    }

private:
    Chosen chosen_;
};

}  // namespace sayloft::test
