#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace orvo::bench {

// Lets the event loop run for ms, as the program's own would.
inline void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the condition holds or ms have passed; whether it holds.
template <class Condition> bool waitFor(Condition condition, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() >= ms) {
            return condition();
        }
        wait(10);
    }
    return true;
}

} // namespace orvo::bench
