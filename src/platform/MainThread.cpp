#include "platform/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace orvo {

bool dispatchToMain(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    return QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace orvo
