// The program as main.cpp wires it, on the backends of scripts/test, that starts recording
// from the microphone once it has launched and says "recording <file name>" on its console.
#include <memory>

#include <QApplication>
#include <QTimer>

#include "app/AppDelegate.h"
#include "app/TerminationSignals.h"
#include "control/RecordingController.h"
#include "integration/app/ProgramBackends.h"
#include "recording/RecordManager.h"
#include "shell/API.h"
#include "shell/Console.h"
#include "support/Dialogs.h"
#include "tray/OrvoMenuTray.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(orvo::API::prgName());
    QApplication::setQuitOnLastWindowClosed(false);
    if (!orvo::test::installProgramBackends()) {
        return 2;
    }
    orvo::AppDelegate delegate;
    orvo::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &orvo::TerminationSignals::received, &delegate,
                     &orvo::AppDelegate::terminateOnSignal);
    QTimer::singleShot(0, &delegate, [&delegate] {
        delegate.applicationDidFinishLaunching();
        QAction* microphone = orvo::test::actionTitled(*delegate.orvoMenuTray()->menu(),
                                                       "Start recording from Microphone");
        if (microphone == nullptr) {
            QApplication::exit(3);
            return;
        }
        microphone->trigger();
        auto* controller = delegate.recordingController();
        // The start completes once the sound server has answered.
        auto started = std::make_shared<QMetaObject::Connection>();
        *started = QObject::connect(controller, &orvo::RecordingController::stateChanged,
                                    controller, [controller, started] {
                                        if (controller->isStarting()) {
                                            return;
                                        }
                                        QObject::disconnect(*started);
                                        if (!controller->isRecord()) {
                                            QApplication::exit(4);
                                            return;
                                        }
                                        orvo::consoleLine("recording " +
                                                          controller->recordManager()->fileName());
                                    });
    });
    return QApplication::exec();
}
