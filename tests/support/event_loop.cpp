#include "tests/support/event_loop.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace orbitreel::test_support {

bool eventually(const std::function<bool()>& condition) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > 60000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

void settle() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace orbitreel::test_support
