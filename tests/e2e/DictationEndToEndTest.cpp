// The whole product on one machine, as a person uses it: the reference service (sayloft-server,
// built-in recogniser) on a free loopback port, a token and the consent stored by sayloft-cli,
// and the real sayloft with a mocked notification daemon and tray host on the session bus. A
// text field in another X client has the focus; Right Alt is held through XTEST while flite's
// speech plays into the virtual microphone, and the words must arrive in the field.
//
// Every process started here ends with the test (also when an assertion fails: the owners are
// destroyed; also when the driver itself dies: the children get SIGKILL from the kernel).

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QStandardPaths>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>

#include "Screenshots.h"
#include "ServerProcess.h"
#include "TestKeyboard.h"
#include "core/audio/Recorder.h"
#include "core/audio/WavReader.h"
#include "qt/DBusMock.h"
#include "server/WordErrorRate.h"

namespace sayloft {
namespace {

using namespace std::chrono_literals;
using sayloft::WordErrorRate;
using test::DBusMock;
using test::ServerProcess;
using test::TempDir;
using test::TestKeyboard;
using test::waitUntil;

constexpr unsigned rightAltKeycode = 108;
// Three of the sentences the server's recognition tests measure with the same voice and a
// fourth: about ten seconds, so that the key is held well past the moment streaming starts.
const std::string sentence =
    "we need three more chairs for the meeting room please send the report to the team before "
    "noon turn left at the next street and drive slowly the weather will be cold tomorrow morning";
const QString retryLabel = QStringLiteral("Retry Last Recording");

// A child process that ends with its owner: SIGTERM, then SIGKILL after five seconds. Should the
// driver die first, the kernel kills the child (PR_SET_PDEATHSIG). Standard output is collected
// line by line while the Qt event loop runs; standard error goes to the test's.
class Child {
public:
    Child(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            pending_ += process_.readAllStandardOutput();
            qsizetype end = 0;
            while ((end = pending_.indexOf('\n')) >= 0) {
                lines_.push_back(QString::fromUtf8(pending_.left(end)));
                pending_.remove(0, end + 1);
            }
        });
        process_.start(program, arguments);
        if (!process_.waitForStarted(10000)) {
            throw std::runtime_error("cannot start " + program.toStdString());
        }
    }
    ~Child() {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() const { return process_.state() == QProcess::Running; }

    // SIGTERM and a bounded wait: the exit status of a process that ended by itself, else -1.
    int terminate() {
        process_.terminate();
        if (!process_.waitForFinished(10000) || process_.exitStatus() != QProcess::NormalExit) {
            return -1;
        }
        return process_.exitCode();
    }
    const std::vector<QString>& lines() const { return lines_; }
    void write(const QByteArray& bytes) { process_.write(bytes); }

private:
    QProcess process_;
    QByteArray pending_;
    std::vector<QString> lines_;
};

struct Finished {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a program to its end (bounded); status -1 when it did not start or finish in time.
Finished runToEnd(const QString& program, const QStringList& arguments,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                  std::chrono::milliseconds limit = 60s) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Finished finished;
    if (process.waitForStarted(10000) && process.waitForFinished(static_cast<int>(limit.count())) &&
        process.exitStatus() == QProcess::NormalExit) {
        finished.status = process.exitCode();
    } else {
        process.kill();
        process.waitForFinished(5000);
    }
    finished.out = process.readAllStandardOutput().toStdString();
    finished.err = process.readAllStandardError().toStdString();
    return finished;
}

// flite's WAV (16 kHz mono 16-bit) with half a second of silence after the speech, so that the
// last spoken sound has reached the recorder when the playback ends.
void writeWithTail(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::ifstream in(from, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::string error;
    const auto wav = WavReader::decode(bytes, &error);
    if (!wav || wav->channels != 1) {
        throw std::runtime_error("flite wrote an unexpected WAV: " + error);
    }
    std::vector<std::int16_t> samples;
    for (const float s : wav->samples) {
        samples.push_back(static_cast<std::int16_t>(s * 32767.0f));
    }
    samples.resize(samples.size() + wav->sampleRate / 2, 0);
    const auto bytes16 = Recorder::encodeWav(samples, static_cast<std::int32_t>(wav->sampleRate));
    std::ofstream(to, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes16.data()),
               static_cast<std::streamsize>(bytes16.size()));
}

// One node of a com.canonical.dbusmenu layout: (ia{sv}av).
struct MenuNode {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuNode> children;
};

MenuNode readMenuNode(const QDBusArgument& argument) {
    MenuNode node;
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children.push_back(readMenuNode(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

// The same dictation on X11 (scripts/desktop-session: XTEST holds the key, a Qt field in another
// X client) or on sway (scripts/wayland-session: a compositor binding on keycode 108 runs
// sayloft-cli, a virtual keyboard holds the key, a GTK field on Wayland receives the text).
class DictationEndToEnd : public ::testing::Test {
protected:
    // x11: the service, token and consent prepared by the test; firstRun: nothing prepared, on
    // X11: Sayloft asks, starts its own service and registers; sway: as x11, on sway; gnome and
    // kde: as x11, on Mutter (scripts/gnome-session) or KWin (scripts/kwin-session); portals:
    // as x11, but Sayloft is told it runs in a Wayland session (with Xwayland) whose desktop
    // portal (a mock) offers GlobalShortcuts and RemoteDesktop, as KDE Plasma and GNOME do.
    enum class Mode { x11, firstRun, sway, gnome, kde, portals };
    explicit DictationEndToEnd(Mode mode = Mode::x11)
        : onSway_(mode == Mode::sway),
          desktop_(mode == Mode::gnome ? "GNOME"
                   : mode == Mode::kde ? "KDE"
                                       : ""),
          onXwaylandDesktop_(!desktop_.empty()),
          firstRun_(mode == Mode::firstRun),
          portals_(mode == Mode::portals) {}

    void SetUp() override {
        const bool swaySession = std::getenv("SWAYSOCK") != nullptr;
        const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
        const std::string headless =
            std::getenv("SAYLOFT_WAYLAND_SESSION") != nullptr && desktop != nullptr ? desktop : "";
        if (onSway_ != swaySession || desktop_ != (swaySession ? "" : headless)) {
            GTEST_SKIP() << (onSway_               ? "runs inside scripts/wayland-session"
                             : desktop_ == "GNOME" ? "runs inside scripts/gnome-session"
                             : desktop_ == "KDE"   ? "runs inside scripts/kwin-session"
                                                   : "runs inside scripts/desktop-session");
        }
        for (const char* name : {onSway_ ? "WAYLAND_DISPLAY" : "DISPLAY",
                                 "DBUS_SESSION_BUS_ADDRESS", "PULSE_SERVER"}) {
            if (std::getenv(name) == nullptr) {
                GTEST_SKIP() << "needs the private desktop of scripts/desktop-session or "
                                "scripts/wayland-session ("
                             << name << " is not set)";
            }
        }
        for (const char* tool : {"flite", "paplay", "pacat", "pactl"}) {
            ASSERT_FALSE(QStandardPaths::findExecutable(tool).isEmpty())
                << tool
                << " is missing (Debian packages flite, pulseaudio-utils): run scripts/setup";
        }

        // A private user: token, settings and logs live in the temporary home.
        home_ = std::make_unique<TempDir>();
        env_ = QProcessEnvironment::systemEnvironment();
        const auto home = home_->path();
        env_.insert("HOME", QString::fromStdString(home.string()));
        env_.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
        env_.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
        env_.insert("XDG_STATE_HOME", QString::fromStdString((home / "state").string()));
        env_.insert("LANGUAGE", "en");
        // Qt keeps a few allocations until exit; the application's leaks are not this test's.
        env_.insert("ASAN_OPTIONS", "detect_leaks=0");
        std::filesystem::create_directories(home / "server");
        if (!firstRun_) {
            ASSERT_NO_FATAL_FAILURE(prepareService());
        } else {
            // A runtime folder of its own, so that no earlier test's service socket is there.
            std::filesystem::create_directory(home / "runtime");
            std::filesystem::permissions(home / "runtime", std::filesystem::perms::owner_all);
            env_.insert("XDG_RUNTIME_DIR", QString::fromStdString((home / "runtime").string()));
        }
        ASSERT_NO_FATAL_FAILURE(prepareDesktop());
    }

    // The service on a free loopback port, a token and the consent, as scripts/run would leave
    // them.
    void prepareService() {
        startServer(0);
        ASSERT_TRUE(server_->started()) << server_->output();
        port_ = server_->port();
        const QString service = QStringLiteral("http://127.0.0.1:%1").arg(port_);
        // The application takes the local service's address from its environment.
        env_.insert("SAYLOFT_BACKEND_URL", service);
        for (const char* command : {"register", "consent"}) {
            const auto done = runToEnd(SAYLOFT_CLI_BINARY, {"--service", service, command}, env_);
            ASSERT_EQ(done.status, 0) << "sayloft-cli " << command << ": " << done.err;
        }
    }

    void prepareDesktop() {
        const auto home = home_->path();
        notifications_ = DBusMock::fromTemplate(DBusMock::Bus::session, "notification_daemon",
                                                "org.freedesktop.Notifications",
                                                "/org/freedesktop/Notifications");
        watcher_ =
            DBusMock::fromTemplate(DBusMock::Bus::session, SAYLOFT_WATCHER_TEMPLATE,
                                   "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher");

        // An idle null sink renders in bursts of two seconds; a steady silent stream keeps its
        // monitor (the microphone) delivering evenly.
        silence_ = std::make_unique<Child>(
            "pacat",
            QStringList{"--playback", "--device=sayloft_mic", "--raw", "--format=s16le",
                        "--rate=48000", "--channels=2", "--latency-msec=50", "/dev/zero"},
            QProcessEnvironment::systemEnvironment());

        const auto spoken = home / "spoken.wav";
        speech_ = home / "speech.wav";
        ASSERT_EQ(runToEnd("flite", {"-voice", "slt", "-t", QString::fromStdString(sentence), "-o",
                                     QString::fromStdString(spoken.string())})
                      .status,
                  0);
        writeWithTail(spoken, speech_);

        if (firstRun_) {
            ASSERT_NO_FATAL_FAILURE(firstStart());
        }
        if (portals_) {
            portal_ = DBusMock::fromTemplate(DBusMock::Bus::session, SAYLOFT_PORTAL_MOCK,
                                             "org.freedesktop.portal.Desktop",
                                             "/org/freedesktop/portal/desktop");
            env_.insert("XDG_SESSION_TYPE", "wayland");
            env_.insert("SAYLOFT_HOTKEY_ROUTE", "portal");
            // Typed, so that the words reach the portal as keysyms; the consent stays.
            QFile file(
                QString::fromStdString((home / "config" / "Sayloft" / "defaults.json").string()));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
            file.close();
            settings.insert("insertByTyping", true);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(QJsonDocument(settings).toJson());
        }
        if (onSway_) {
            ASSERT_NO_FATAL_FAILURE(prepareSway());
        } else if (onXwaylandDesktop_) {
            ASSERT_NO_FATAL_FAILURE(prepareXwaylandDesktop());
        } else {
            field_ = std::make_unique<Child>(QCoreApplication::applicationFilePath(),
                                             QStringList{"--text-field"},
                                             QProcessEnvironment::systemEnvironment());
        }
        ASSERT_TRUE(waitUntil([&] { return hasLine(*field_, "ready"); }, 20s))
            << "the text field did not get the input focus";

        if (!firstRun_) {
            app_ = std::make_unique<Child>(SAYLOFT_APP_BINARY, QStringList{}, env_);
        }
        if (onSway_) {
            ASSERT_NO_FATAL_FAILURE(dismissKeyBindingAlert());
        }
        // Its first act once the hotkey is armed is a ping of the service.
        ASSERT_TRUE(
            waitUntil([&] { return serviceLog().find("/health") != std::string::npos; }, 60s))
            << "sayloft did not reach the service:\n"
            << serviceLog();
        if (!onSway_ && !onXwaylandDesktop_) {
            keyboard_ = std::make_unique<TestKeyboard>();
        }
    }

    // The service's access log: the test's own server, or the one Sayloft started.
    std::string serviceLog() const {
        if (server_) {
            return server_->output();
        }
        std::ifstream in(home_->path() / "state" / "Sayloft" / "server.log");
        return {std::istreambuf_iterator<char>(in), {}};
    }

    // Sayloft alone in a fresh home: the voice data notice is answered with Return, as a person
    // would, then Sayloft starts its own service and stores a token.
    void firstStart() {
        app_ = std::make_unique<Child>(SAYLOFT_APP_BINARY, QStringList{}, env_);
        QString dialog;
        ASSERT_TRUE(waitUntil(
            [&] {
                const auto found =
                    runToEnd("xdotool", {"search", "--onlyvisible", "--name", "^Sayloft$"});
                const auto focused = runToEnd("xdotool", {"getwindowfocus"});
                dialog = QString::fromStdString(found.out).trimmed();
                return !dialog.isEmpty() && focused.out == found.out;
            },
            30s))
            << "no focused notice from sayloft";
        TestKeyboard keys;
        keys.press(36);  // Return: the first button, "Agree & Continue"
        keys.release(36);
        const auto token = home_->path() / "data" / "Sayloft" / "device_token";
        ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(token); }, 60s))
            << "no token stored; the service's log:\n"
            << serviceLog();
        EXPECT_EQ(std::filesystem::status(token).permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }

    // On the key-binding route Sayloft says once what to add to the compositor, until the
    // binding has reported; the person chooses "Later" with Escape, and sway gives the focus
    // back to the field.
    void dismissKeyBindingAlert() {
        ASSERT_TRUE(waitUntil(
            [] {
                return runToEnd("swaymsg", {"-t", "get_tree"})
                           .out.find("\"app_id\": \"sayloft\"") != std::string::npos;
            },
            30s))
            << "sayloft showed no alert about the key binding";
        const std::size_t answered = virtualKeyboard_->lines().size();
        virtualKeyboard_->write("tap 1\n");  // Escape
        ASSERT_TRUE(waitUntil([&] { return virtualKeyboard_->lines().size() > answered; }, 10s));
        ASSERT_TRUE(waitUntil(
            [] {
                return runToEnd("swaymsg", {"-t", "get_tree"})
                           .out.find("\"app_id\": \"sayloft\"") == std::string::npos;
            },
            10s));
    }

    // sway binds keycode 108 (Right Alt) to sayloft-cli, as doctor tells a user to; a native GTK
    // field has the focus; Sayloft runs on Qt's Wayland plugin (no X display of its own).
    void prepareSway() {
        const QString cli = QStringLiteral(SAYLOFT_CLI_BINARY);
        for (const QString& binding :
             {QStringLiteral("bindcode --no-repeat 108 exec %1 hotkey press").arg(cli),
              QStringLiteral("bindcode --release 108 exec %1 hotkey release").arg(cli)}) {
            const auto bound = runToEnd("swaymsg", {binding});
            ASSERT_EQ(bound.status, 0) << bound.out << bound.err;
        }
        env_.remove("DISPLAY");
        // The binding route, also where this machine's keyboards are readable (evdev would win).
        env_.insert("SAYLOFT_HOTKEY_ROUTE", "binding");
        QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
        gtk.insert("GDK_BACKEND", "wayland");
        field_ = std::make_unique<Child>(
            "/usr/bin/python3",
            QStringList{QStringLiteral(SAYLOFT_TEST_TOOLS "/gtk_text_field.py")}, gtk);
        virtualKeyboard_ = std::make_unique<Child>(
            "/usr/bin/python3",
            QStringList{QStringLiteral(SAYLOFT_TEST_TOOLS "/virtual_keyboard.py")},
            QProcessEnvironment::systemEnvironment());
        ASSERT_TRUE(waitUntil([&] { return hasLine(*virtualKeyboard_, "ready"); }, 20s))
            << "no virtual keyboard";
    }

    // Mutter and KWin without the rest of their desktops have no key bindings: the test calls
    // sayloft-cli as a binding would. No virtual keyboard: Sayloft runs on Xwayland (xcb) and
    // pastes with XTEST, which reaches X11 windows, so the field is GTK on X11; the clipboard is
    // the X11 one on Mutter (no data-control), data-control on KWin (which bridges it to X11).
    // The binding counts as set up (no alert asking for it).
    void prepareXwaylandDesktop() {
        env_.insert("SAYLOFT_HOTKEY_ROUTE", "binding");
        const auto settings = home_->path() / "config" / "Sayloft" / "defaults.json";
        std::filesystem::create_directories(settings.parent_path());
        QJsonObject values;
        if (std::ifstream in(settings); in) {
            const std::string text{std::istreambuf_iterator<char>(in), {}};
            values = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
        }
        values.insert("keyBindingSeen", true);
        std::ofstream(settings) << QJsonDocument(values).toJson().toStdString();
        QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
        gtk.insert("GDK_BACKEND", "x11");
        field_ = std::make_unique<Child>(
            "/usr/bin/python3",
            QStringList{QStringLiteral(SAYLOFT_TEST_TOOLS "/gtk_text_field.py")}, gtk);
    }

    // Right Alt through XTEST, through the virtual keyboard (evdev code 100 = keycode 108),
    // (on Mutter and KWin) the calls a key binding would make, or the desktop portal's shortcut
    // activated and deactivated.
    void hotkey(bool down) {
        if (portals_) {
            portal_->mock(QStringLiteral("Press"), {down});
        } else if (onXwaylandDesktop_) {
            const auto called =
                runToEnd(SAYLOFT_CLI_BINARY, {"hotkey", down ? "press" : "release"}, env_);
            ASSERT_EQ(called.status, 0) << called.err;
        } else if (onSway_) {
            const std::size_t answered = virtualKeyboard_->lines().size();
            virtualKeyboard_->write(down ? "press 100\n" : "release 100\n");
            ASSERT_TRUE(
                waitUntil([&] { return virtualKeyboard_->lines().size() > answered; }, 10s));
        } else if (down) {
            keyboard_->press(rightAltKeycode);
        } else {
            keyboard_->release(rightAltKeycode);
        }
    }

    void TearDown() override {
        // The hotkey let go first; the members then end in reverse order of declaration: the
        // application before what it used.
        if (virtualKeyboard_ && virtualKeyboard_->running()) {
            hotkey(false);
        }
        virtualKeyboard_.reset();
        if (onSway_ && !IsSkipped()) {
            runToEnd("swaymsg", {"unbindcode --release 108"});
            runToEnd("swaymsg", {"unbindcode 108"});
        }
    }

    void startServer(int port) {
        server_ = std::make_unique<ServerProcess>(
            std::vector<std::string>{"--host", "127.0.0.1", "--port", std::to_string(port),
                                     "--decoders", "1", "--data-dir",
                                     (home_->path() / "server").string()},
            false);
    }

    static bool hasLine(const Child& child, const QString& line) {
        return std::ranges::find(child.lines(), line) != child.lines().end();
    }

    // The text field's content, as it last reported it.
    std::string fieldText() const {
        for (auto it = field_->lines().rbegin(); it != field_->lines().rend(); ++it) {
            if (it->startsWith("text ")) {
                return QByteArray::fromHex(it->mid(5).toLatin1()).toStdString();
            }
        }
        return {};
    }

    // Whether some application is recording from the microphone.
    static bool microphoneOpen() {
        const auto listed = runToEnd("pactl", {"list", "short", "source-outputs"});
        return listed.status == 0 && listed.out.find_first_not_of(" \n") != std::string::npos;
    }

    // On sway the layer-shell panel shows while listening: bottom centre of the 1280x800 output,
    // 120 px above its bottom (the panel's initial 220x48 holds "Listening"), over the field.
    static constexpr QRect panelPlace{(1280 - 220) / 2, 800 - 120 - 48, 220, 48};

    // Holds Right Alt while the sentence is spoken; returns once the key is up.
    void dictate() {
        ASSERT_NO_FATAL_FAILURE(hotkey(true));
        ASSERT_TRUE(waitUntil([] { return microphoneOpen(); }, 15s))
            << "sayloft did not open the microphone while Right Alt was down";
        if (onSway_) {
            EXPECT_TRUE(waitUntil(
                [&] {
                    const auto shot = test::screenshot();
                    return shot && test::showsDarkBoxAt(*shot, panelPlace);
                },
                10s))
                << "no panel at the bottom while listening";
        }
        const auto played =
            runToEnd("paplay", {"--device=sayloft_mic", QString::fromStdString(speech_.string())});
        ASSERT_EQ(played.status, 0) << played.err;
        ASSERT_NO_FATAL_FAILURE(hotkey(false));
    }

    // Waits for the field to receive text; the milliseconds it took, or nullopt.
    std::optional<double> waitForText(std::chrono::milliseconds limit = 90s) {
        QElapsedTimer timer;
        timer.start();
        if (!waitUntil([&] { return !fieldText().empty(); }, limit)) {
            return std::nullopt;
        }
        return static_cast<double>(timer.nsecsElapsed()) / 1e6;
    }

    std::vector<std::string> latencyLines() const {
        std::ifstream in(home_->path() / "state" / "Sayloft" / "latency.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void dictateOnceAndCheck();

    void expectTheSentence(const std::string& text) {
        const double wer = static_cast<double>(WordErrorRate::errors(sentence, text)) /
                           static_cast<double>(WordErrorRate::words(sentence).size());
        std::printf("typed: \"%s\" (word error rate %.3f)\n", text.c_str(), wer);
        RecordProperty("word_error_rate", std::to_string(wer));
        EXPECT_LT(wer, 0.25) << "heard \"" << text << "\"";
    }

    std::unique_ptr<TempDir> home_;
    QProcessEnvironment env_;
    std::unique_ptr<ServerProcess> server_;
    int port_ = 0;
    std::unique_ptr<DBusMock> notifications_;
    std::unique_ptr<DBusMock> watcher_;
    std::unique_ptr<Child> silence_;
    std::filesystem::path speech_;
    std::unique_ptr<Child> field_;
    std::unique_ptr<DBusMock> portal_;
    std::unique_ptr<Child> app_;
    std::unique_ptr<TestKeyboard> keyboard_;
    const bool onSway_;
    const std::string desktop_;     // "GNOME" or "KDE" in their headless compositors
    const bool onXwaylandDesktop_;  // in either of them (both pass through Xwayland alike)
    const bool firstRun_;
    const bool portals_;
    std::unique_ptr<Child> virtualKeyboard_;
};

class DictationOnSway : public DictationEndToEnd {
protected:
    DictationOnSway() : DictationEndToEnd(Mode::sway) {}
};

class DictationOnGnome : public DictationEndToEnd {
protected:
    DictationOnGnome() : DictationEndToEnd(Mode::gnome) {}
};

class DictationOnKWin : public DictationEndToEnd {
protected:
    DictationOnKWin() : DictationEndToEnd(Mode::kde) {}
};

class DictationThroughThePortals : public DictationEndToEnd {
protected:
    DictationThroughThePortals() : DictationEndToEnd(Mode::portals) {}

    // The text the portal received as keysyms (Latin-1 keysyms are their code points), after
    // the one warm-up key code.
    std::string typedThroughPortal() {
        std::string typed;
        for (const auto& call : portal_->calls(QStringLiteral("NotifyKeyboardKeysym"))) {
            const int keysym = call.at(2).toInt();
            if (call.at(3).toUInt() == 1 && keysym >= 0x20 && keysym < 0x7f) {
                typed += static_cast<char>(keysym);
            }
        }
        return typed;
    }
};

class FirstDictation : public DictationEndToEnd {
protected:
    FirstDictation() : DictationEndToEnd(Mode::firstRun) {}
};

void DictationEndToEnd::dictateOnceAndCheck() {
    ASSERT_NO_FATAL_FAILURE(dictate());
    const auto releaseToText = waitForText();
    ASSERT_TRUE(releaseToText.has_value()) << "no text arrived; service log:\n" << serviceLog();
    std::printf("key release to text in the field: %.0f ms\n", *releaseToText);
    RecordProperty("release_to_text_ms", std::to_string(*releaseToText));
    expectTheSentence(fieldText());
    // Recognised while the key was held: one stream answered, no upload needed.
    const std::string log = serviceLog();
    EXPECT_NE(log.find(" POST /v1/stream 200 "), std::string::npos) << log;
    EXPECT_EQ(log.find(" POST /v1/transcribe "), std::string::npos) << log;
    if (onSway_) {
        EXPECT_TRUE(waitUntil(
            [&] {
                const auto shot = test::screenshot();
                return shot && test::allLight(*shot, panelPlace);
            },
            10s))
            << "the panel stays after the dictation";
    }

    // One line per dictation: time, audio length, total milliseconds.
    ASSERT_TRUE(waitUntil([&] { return !latencyLines().empty(); }, 10s));
    const auto lines = latencyLines();
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match,
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\taudio=(\d+\.\d)s\t)"
                                            R"(total=(\d+)ms)")))
        << lines[0];
    // The recording spans the speech and its tail, and the key was held a little longer.
    EXPECT_GT(std::stod(match[1].str()), 2.0);
    EXPECT_LT(std::stod(match[1].str()), 15.0);

    // A logout's SIGTERM ends the application like Quit: in order and with status 0.
    EXPECT_EQ(app_->terminate(), 0);
}

// The tray's side of the conversation, as a panel holds it: the item's menu over
// com.canonical.dbusmenu.
class TrayMenu {
public:
    explicit TrayMenu(DBusMock& watcher) : watcher_(watcher) {}

    // The id of the visible, enabled item labelled `label`, once the menu shows one.
    std::optional<int> visibleItem(const QString& label) {
        if (!locate()) {
            return std::nullopt;
        }
        const QDBusMessage reply = call("GetLayout", {0, -1, QStringList()});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2) {
            return std::nullopt;
        }
        return find(readMenuNode(reply.arguments().at(1).value<QDBusArgument>()), label);
    }

    bool click(int id) {
        return call("Event",
                    {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u})
                   .type() == QDBusMessage::ReplyMessage;
    }

private:
    // The item's bus name (from the watcher's call log) and its menu's object path.
    bool locate() {
        if (!menuPath_.isEmpty()) {
            return true;
        }
        const auto registrations = watcher_.calls(QStringLiteral("RegisterStatusNotifierItem"));
        if (registrations.empty() || registrations.back().isEmpty()) {
            return false;
        }
        service_ = registrations.back().at(0).toString();
        QDBusMessage get = QDBusMessage::createMethodCall(service_, "/StatusNotifierItem",
                                                          "org.freedesktop.DBus.Properties", "Get");
        get.setArguments({QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
        const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            return false;
        }
        menuPath_ = reply.arguments()
                        .value(0)
                        .value<QDBusVariant>()
                        .variant()
                        .value<QDBusObjectPath>()
                        .path();
        return !menuPath_.isEmpty();
    }

    QDBusMessage call(const QString& method, const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service_, menuPath_, "com.canonical.dbusmenu", method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
    }

    static std::optional<int> find(const MenuNode& node, const QString& label) {
        const auto& p = node.properties;
        if (p.value("label").toString().remove('_') == label && p.value("visible", true).toBool() &&
            p.value("enabled", true).toBool()) {
            return node.id;
        }
        for (const auto& child : node.children) {
            if (const auto found = find(child, label)) {
                return found;
            }
        }
        return std::nullopt;
    }

    DBusMock& watcher_;
    QString service_;
    QString menuPath_;
};

TEST_F(DictationEndToEnd, SpokenSentenceArrivesInTheFocusedField) {
    dictateOnceAndCheck();
}

// On sway: the hotkey from the compositor binding, text typed by paste through the virtual
// keyboard and the data-control clipboard into a native Wayland field.
// A fresh home and no service: Sayloft alone leads to a working dictation.
TEST_F(FirstDictation, AfterTheNoticeSayloftStartsItsServiceRegistersAndDictates) {
    dictateOnceAndCheck();
}

TEST_F(DictationOnSway, SpokenSentenceArrivesInANativeFieldThroughTheKeyBinding) {
    dictateOnceAndCheck();
}

// On GNOME (Mutter) through Xwayland: the X11 clipboard and XTEST into an X11 field.
TEST_F(DictationOnGnome, SpokenSentenceArrivesInAnXwaylandFieldThroughTheXClipboard) {
    dictateOnceAndCheck();
}

// On KDE Plasma (KWin) through Xwayland: the data-control clipboard and XTEST into an X11 field.
TEST_F(DictationOnKWin, SpokenSentenceArrivesInAnXwaylandFieldThroughDataControl) {
    dictateOnceAndCheck();
}

// KDE Plasma and GNOME: the hotkey is the portal's shortcut (Activated, GNOME's repeated
// Activated, Deactivated), the text is typed through its RemoteDesktop session.
TEST_F(DictationThroughThePortals, KeyReleaseToTextThroughGlobalShortcutsAndRemoteDesktop) {
    ASSERT_TRUE(waitUntil([&] { return !portal_->calls(QStringLiteral("Start")).empty(); }, 20s))
        << "sayloft asked the portal for no remote desktop session";
    ASSERT_NO_FATAL_FAILURE(hotkey(true));
    ASSERT_TRUE(waitUntil([] { return microphoneOpen(); }, 15s))
        << "sayloft did not open the microphone on the shortcut's Activated";
    portal_->mock(QStringLiteral("Press"), {true});  // auto-repeat: the same hold
    ASSERT_EQ(runToEnd("paplay", {"--device=sayloft_mic", QString::fromStdString(speech_.string())})
                  .status,
              0);
    QElapsedTimer sinceRelease;
    ASSERT_NO_FATAL_FAILURE(hotkey(false));
    sinceRelease.start();
    ASSERT_TRUE(waitUntil([&] { return !typedThroughPortal().empty(); }, 90s))
        << "nothing typed through the portal; service log:\n"
        << serviceLog();
    std::printf("key release to text through the portal: %lld ms\n", sinceRelease.elapsed());
    // The latency line follows the transcript, whose typing Sayloft's loop has queued by then;
    // a call answered by that loop afterwards comes after all of the typing.
    ASSERT_TRUE(waitUntil([&] { return !latencyLines().empty(); }, 10s));
    const QDBusMessage activate = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall("org.sayloft.Sayloft", "/org/sayloft/Sayloft",
                                       "org.sayloft.Sayloft", "Activate"),
        QDBus::Block, 10000);
    ASSERT_EQ(activate.type(), QDBusMessage::ReplyMessage) << activate.errorMessage().toStdString();
    expectTheSentence(typedThroughPortal());
    EXPECT_EQ(portal_->calls(QStringLiteral("BindShortcuts")).size(), 1u);
    EXPECT_EQ(latencyLines().size(), 1u);  // one dictation for the repeated Activated
    EXPECT_EQ(app_->terminate(), 0);
}

TEST_F(DictationEndToEnd, ServiceGoneAtReleaseThenRetryFromTheTrayMenu) {
    TrayMenu menu(*watcher_);
    ASSERT_TRUE(waitUntil([&] { return menu.visibleItem("Quit").has_value(); }, 20s))
        << "the tray menu never appeared on the bus";
    EXPECT_FALSE(menu.visibleItem(retryLabel).has_value());

    keyboard_->press(rightAltKeycode);
    ASSERT_TRUE(waitUntil([] { return microphoneOpen(); }, 15s));
    ASSERT_EQ(runToEnd("paplay", {"--device=sayloft_mic", QString::fromStdString(speech_.string())})
                  .status,
              0);
    // Gone at once, as after a crash: nothing is drained.
    server_->signal(SIGKILL);
    ASSERT_EQ(server_->wait(30s), 128 + SIGKILL);
    keyboard_->release(rightAltKeycode);

    // The failure is told by a notification, and the recording is kept for a retry.
    std::vector<QVariantList> notices;
    QElapsedTimer sinceRelease;
    sinceRelease.start();
    ASSERT_TRUE(waitUntil(
        [&] { return !(notices = notifications_->calls(QStringLiteral("Notify"))).empty(); }, 90s))
        << "no notification";
    std::printf("key release to the failure notification: %lld ms\n", sinceRelease.elapsed());
    ASSERT_EQ(notices.size(), 1u);
    ASSERT_EQ(notices[0].size(), 8);
    EXPECT_EQ(notices[0][3].toString(), QStringLiteral("Network too slow"));
    EXPECT_TRUE(notices[0][4].toString().contains(retryLabel))
        << notices[0][4].toString().toStdString();
    std::optional<int> retry;
    ASSERT_TRUE(waitUntil([&] { return (retry = menu.visibleItem(retryLabel)).has_value(); }, 10s))
        << "the tray menu offers no retry";
    EXPECT_EQ(fieldText(), "");

    // The service is back on the same address: the kept recording goes through.
    startServer(port_);
    ASSERT_TRUE(server_->started()) << server_->output();
    ASSERT_TRUE(menu.click(*retry));
    const auto clickToText = waitForText();
    ASSERT_TRUE(clickToText.has_value()) << "no text after the retry; service log:\n"
                                         << server_->output();
    std::printf("retry click to text in the field: %.0f ms\n", *clickToText);
    expectTheSentence(fieldText());
    EXPECT_TRUE(waitUntil([&] { return !menu.visibleItem(retryLabel).has_value(); }, 10s))
        << "the retry stays offered after it succeeded";
}

}  // namespace
}  // namespace sayloft
