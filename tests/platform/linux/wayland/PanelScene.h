#pragma once

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>
#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "../LineTool.h"
#include "../qt/HudWith.h"
#include "Screenshots.h"
#include "qt/QtWait.h"

namespace sayloft::test {

// The headless sessions' one output.
constexpr int outputWidth = 1280;
constexpr int outputHeight = 800;

// Where the panel may appear: away from the output's edges and from the field's text cursor,
// which blinks at the left.
inline const QRect watched(100, 100, outputWidth - 200, outputHeight - 104);

inline std::string describe(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) +
           "x" + std::to_string(r.height());
}

// The GTK field of tests/tools as a native Wayland window; ready() once it has the focus.
class NativeField : public LineTool {
public:
    explicit NativeField(const QStringList& args = {})
        : LineTool("gtk_text_field.py", environment(), args) {}
    bool ready() {
        return waitUntil([&] { return count("ready") == 1; }, std::chrono::seconds(20));
    }
    // Clicks until one reaches the field: a new pointer's first events can be lost.
    bool hearsAClick(const std::function<void()>& click) {
        return waitUntil([&] {
            if (count("click") == 0) {
                click();
                waitUntil([&] { return count("click") > 0; }, std::chrono::seconds(1));
            }
            return count("click") > 0;
        });
    }

private:
    static QProcessEnvironment environment() {
        QProcessEnvironment gtk = QProcessEnvironment::systemEnvironment();
        gtk.insert("GDK_BACKEND", "wayland");
        return gtk;
    }
};

// Waits until `shoot` shows exactly `change` changed from `before` within `watched` (an empty
// rectangle: nothing changed); the last screenshot.
inline QImage waitForChange(const std::function<std::optional<QImage>()>& shoot,
                            const QImage& before, const QRect& change) {
    QImage last;
    EXPECT_TRUE(waitUntil([&] {
        const auto shot = shoot();
        last = shot.value_or(QImage());
        return shot && changedArea(before, *shot, watched) == change;
    })) << "expected changed: "
        << describe(change) << "; changed: "
        << (last.isNull() ? "no screenshot" : describe(changedArea(before, last, watched)));
    return last;
}

}  // namespace sayloft::test
