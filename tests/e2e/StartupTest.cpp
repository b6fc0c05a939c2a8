// sayloft starts whatever the session lacks, and says what does not work: no X display and no
// Wayland compositor at all, or a Wayland compositor without Qt's Wayland plugin, or natively on
// Qt's Wayland plugin. Each start is ended with SIGTERM, which must end it cleanly.

#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "qt/QtWait.h"

namespace sayloft {
namespace {

struct Row {
    const char* session;
    bool wayland;        // keep the compositor (needs scripts/wayland-session)
    bool waylandPlugin;  // let Qt find its Wayland plugin
    std::vector<const char*> said;
};

// Starts sayloft, waits (bounded) until its start-up log holds every expected line, then ends it.
void startAndExpect(const Row& row) {
    QTemporaryDir home;
    QTemporaryDir plugins;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    if (!row.wayland) {
        env.remove("WAYLAND_DISPLAY");
        env.remove("XDG_SESSION_TYPE");
    }
    if (!row.waylandPlugin) {
        // Qt's platform plugins, the Wayland one left out.
        const QString qtPlatforms =
            QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
        ASSERT_TRUE(QFile::link(qtPlatforms + QStringLiteral("/libqoffscreen.so"),
                                plugins.filePath(QStringLiteral("libqoffscreen.so"))));
        env.insert("QT_QPA_PLATFORM_PLUGIN_PATH", plugins.path());
    }
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_STATE_HOME", home.filePath("state"));
    env.insert("LANGUAGE", "en");
    env.insert("ASAN_OPTIONS", "detect_leaks=0");

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.start(QStringLiteral(SAYLOFT_APP_BINARY), {});
    ASSERT_TRUE(app.waitForStarted());
    QByteArray log;
    const auto saidAll = [&] {
        return std::ranges::all_of(row.said, [&](const char* line) { return log.contains(line); });
    };
    test::waitUntil(
        [&] {
            log += app.readAll();
            return saidAll() || app.state() != QProcess::Running;
        },
        std::chrono::seconds(30));
    EXPECT_TRUE(saidAll()) << row.session << ":\n" << log.toStdString();
    ASSERT_EQ(app.state(), QProcess::Running) << row.session << ": it ended\n" << log.toStdString();
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << row.session;
    EXPECT_EQ(app.exitCode(), 0) << row.session;
}

TEST(SayloftStartup, RunsWithWhateverTheSessionOffersAndSaysWhatIsMissing) {
    const bool compositor = std::getenv("WAYLAND_DISPLAY") != nullptr;
    const Row rows[] = {
        {"no display at all",
         false,
         true,
         {"windows: none (no tray icon or menu) -- MISSING: start Sayloft inside a "
          "desktop session",
          "hotkey: none -- MISSING", "typing: none -- MISSING"}},
        {"Wayland without Qt's Wayland plugin",
         true,
         false,
         {"windows: none (no tray icon or menu) -- MISSING: install Qt's Wayland plugin",
          "hotkey: compositor key binding", "typing: Wayland virtual keyboard",
          "clipboard: Wayland data-control"}},
        {"Wayland with Qt's Wayland plugin",
         true,
         true,
         {"windows: Wayland", "typing: Wayland virtual keyboard",
          "panel: Wayland layer-shell overlay"}},
    };
    for (const Row& row : rows) {
        if (row.wayland && !compositor) {
            continue;  // needs the compositor of scripts/wayland-session
        }
        startAndExpect(row);
    }
}

}  // namespace
}  // namespace sayloft
