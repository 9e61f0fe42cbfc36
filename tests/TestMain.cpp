// Shared main of the test programs: a private HOME with a Documents folder, so that the
// storage tree of the tests never touches the user's, and the Qt application object.
#include <cstdlib>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef ORVO_TEST_WIDGETS
#include <QApplication>
#elif defined(ORVO_TEST_GUI)
#include <QGuiApplication>
#endif

int main(int argc, char* argv[]) {
    QTemporaryDir home;
    if (!home.isValid()) {
        return EXIT_FAILURE;
    }
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toUtf8());
    QDir(home.path()).mkdir("Documents");

#if defined(ORVO_TEST_WIDGETS) || defined(ORVO_TEST_GUI)
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
#endif
#ifdef ORVO_TEST_WIDGETS
    QApplication application(argc, argv);
#elif defined(ORVO_TEST_GUI)
    QGuiApplication application(argc, argv);
#else
    QCoreApplication application(argc, argv);
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
