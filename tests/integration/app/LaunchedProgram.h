#pragma once

#include <functional>
#include <memory>

#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "audio/AudioManager.h"
#include "browser/MainWindowController.h"
#include "integration/app/ProgramBackends.h"
#include "platform/Platform.h"
#include "support/Dialogs.h"
#include "tray/OrvoMenuTray.h"

namespace orvo::test {

// The whole program in the test's process, on the private X server and sound server of
// scripts/test, with the virtual driver it installs. Whatever a test leaves open, the shared
// sound server plays to the user's output again afterwards.
class LaunchedProgram : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"))
            << "needs the X server of scripts/test";
        if (!installProgramBackends()) {
            GTEST_SKIP() << "needs the virtual driver that scripts/test installs";
        }
        userOutput = AudioManager::getDefaultOutputDevice();
        ASSERT_NE(userOutput, 0u);
    }

    void TearDown() override {
        while (AlertDialog* open = modalAlert()) {
            delete open;
        }
        delegate.reset();
        if (userOutput != 0) {
            AudioManager::removeLeftoverAggregateDevices();
            AudioManager::setOutputDevice(userOutput);
        }
        Platform::shared().clear();
    }

    // Launches as at login: the tray, and the records window the first start opens.
    bool launch() {
        delegate = std::make_unique<AppDelegate>();
        if (exitProgram) {
            delegate->exitProgram = exitProgram;
        }
        delegate->applicationDidFinishLaunching();
        return delegate->launchApplication();
    }

    OrvoMenuTray& tray() { return *delegate->orvoMenuTray(); }

    // The records window once it is on screen; nullptr (and a failure) when it is not.
    MainWindowController* shownWindow() {
        MainWindowController* window = delegate->mainWC();
        EXPECT_NE(window, nullptr);
        if (window == nullptr || !QTest::qWaitForWindowExposed(window)) {
            ADD_FAILURE() << "the records window did not show";
            return nullptr;
        }
        return window;
    }

    std::unique_ptr<AppDelegate> delegate;
    std::function<void(int)> exitProgram;
    AudioDeviceID userOutput = 0;
};

} // namespace orvo::test
