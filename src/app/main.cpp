#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/Backends.h"
#include "app/TerminationSignals.h"
#include "shell/API.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(orvo::API::prgName());
    QApplication::setApplicationVersion(orvo::API::prgVersion());
    // A tray program: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    orvo::installBackends();
    orvo::AppDelegate delegate;
    orvo::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &orvo::TerminationSignals::received, &delegate,
                     &orvo::AppDelegate::terminateOnSignal);
    QTimer::singleShot(0, &delegate, &orvo::AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
