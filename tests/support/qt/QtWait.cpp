#include "qt/QtWait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace sayloft::test {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QTimer tick;
    tick.start(20);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > limit.count()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

}  // namespace sayloft::test
