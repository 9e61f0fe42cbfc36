#include <sys/stat.h>

#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/Backends.h"
#include "app/SingleInstance.h"
#include "app/TerminationSignals.h"
#include "shell/API.h"

int main(int argc, char* argv[]) {
    // Before anything: a logout or a kill during the start-up must not end the program the
    // default way.
    orvo::TerminationSignals::holdUntilWatched();
    // Recordings, transcripts, the catalogue and the log are the user's only.
    ::umask(077);
    QApplication application(argc, argv);
    QApplication::setApplicationName(orvo::API::prgName());
    QApplication::setApplicationVersion(orvo::API::prgVersion());
    // A tray program: closing its last window does not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    orvo::TerminationSignals terminationSignals;

    // A second copy would take the first one's output and recover its live recording.
    orvo::SingleInstance instance(orvo::SingleInstance::runtimeFolder());
    if (instance.claim() == orvo::SingleInstance::Claim::another) {
        return 0;
    }

    orvo::installBackends();
    orvo::AppDelegate delegate;
    QObject::connect(&terminationSignals, &orvo::TerminationSignals::received, &delegate,
                     &orvo::AppDelegate::terminateOnSignal);
    QObject::connect(&instance, &orvo::SingleInstance::showRequested, &delegate,
                     &orvo::AppDelegate::showFront);
    QTimer::singleShot(0, &delegate, &orvo::AppDelegate::applicationDidFinishLaunching);
    return QApplication::exec();
}
