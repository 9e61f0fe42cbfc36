#include "preferences/PreferencesWindowController.h"

#include <algorithm>
#include <map>
#include <memory>

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "fakes/FakeAudioHardware.h"
#include "platform/Platform.h"
#include "platform/linux/desktop/XdgAutostartLoginItems.h"
#include "preferences/PreferencesGeneralViewController.h"
#include "preferences/PreferencesRecordViewController.h"
#include "preferences/PreferencesTabViewController.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "shell/SettingsManager.h"
#include "support/AboutWindowController.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

const QString helperProgram = QStringLiteral("/opt/orvo test/bin/orvo-call-recorder-helper");

// A settings file that holds exactly these string entries.
void writeSettings(const std::map<QString, QString>& entries) {
    QByteArray plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : entries) {
        plist += "<key>" + key.toUtf8() + "</key><string>" + value.toUtf8() + "</string>\n";
    }
    test::writeFile(API::settingsPath(), plist + "</dict>\n</plist>\n");
}

QString setting(const QString& key) {
    return SettingsManager::shared().getValue(key);
}

// The window on a fresh storage tree, two microphones beside the driver's own device, and
// the real autostart entries in the test's private configuration folder.
class PreferencesWindowTest : public testing::Test {
protected:
    void SetUp() override {
        test::removeStorageTree();
        CopyFiles::checkFilesAndCopy();
        QDir(autostartFolder()).removeRecursively();
        QFile::remove(autostartFolder());
        auto hardware = std::make_unique<FakeAudioHardware>();
        hardware->setCaptureDevices({{"ORVO Record Device", "orvo"},
                                     {"Built-in Microphone", "mic"},
                                     {"USB Headset", "usb"}});
        Platform::shared().install<AudioHardware>(std::move(hardware));
        Platform::shared().install<LoginItems>(
            std::make_unique<XdgAutostartLoginItems>(helperProgram));
    }
    void TearDown() override {
        window.reset();
        Platform::shared().clear();
    }

    static QString entryPath() { return XdgAutostartLoginItems::entryPath(API::budnleIDHelper()); }
    static QString autostartFolder() { return QFileInfo(entryPath()).path(); }

    PreferencesTabViewController& open() {
        window = std::make_unique<PreferencesWindowController>();
        window->showWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        return *window->contentViewController();
    }
    void clickTab(int index) {
        QTabBar* bar = tabs().tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
        ASSERT_EQ(tabs().currentIndex(), index);
    }
    PreferencesTabViewController& tabs() { return *window->contentViewController(); }
    PreferencesRecordViewController& records() {
        clickTab(1);
        return *tabs().recordViewController();
    }
    QCheckBox& autoLaunch() { return *tabs().generalViewController()->btnAutoLaunch; }
    // On its box: the check box is as wide as the tab, its text is not.
    void clickAutoLaunch() {
        QTest::mouseClick(&autoLaunch(), Qt::LeftButton, {}, QPoint(8, autoLaunch().height() / 2));
    }

    std::unique_ptr<PreferencesWindowController> window;
};

TEST_F(PreferencesWindowTest, RecordsTabReadsTheStoredChoicesAndStoresThemWhenLeft) {
    writeSettings({{"QVideo", "1st"}, {"DefaultAudioDeviceForVideo", "USB Headset"}});
    open();
    PreferencesRecordViewController& tab = records();

    EXPECT_EQ(tab.segmentQAudio->checkedId(), 0) << "absent quality reads as 0";
    EXPECT_EQ(tab.segmentQVideo->checkedId(), 1) << "leading digits of \"1st\"";
    ASSERT_EQ(tab.cbAudioDevices->count(), 2);
    EXPECT_EQ(tab.cbAudioDevices->itemText(0), "Built-in Microphone");
    EXPECT_EQ(tab.cbAudioDevices->itemText(1), "USB Headset");
    EXPECT_EQ(tab.cbAudioDevices->currentText(), "USB Headset");

    EXPECT_EQ(tab.cbCallDetection->currentText(), "Offer to record it") << "absent: offered";
    EXPECT_TRUE(tab.btnRemoveEcho->isChecked()) << "absent: on";
    QTest::mouseClick(tab.btnRemoveEcho, Qt::LeftButton, {},
                      QPoint(8, tab.btnRemoveEcho->height() / 2));
    // Chosen as a user does, from the list the box opens.
    tab.cbCallDetection->showPopup();
    QTest::keyClick(tab.cbCallDetection->view(), Qt::Key_Down);
    QTest::keyClick(tab.cbCallDetection->view(), Qt::Key_Return);
    EXPECT_EQ(tab.cbCallDetection->currentText(), "Record it");
    tab.cbAudioDevices->showPopup();
    QTest::keyClick(tab.cbAudioDevices->view(), Qt::Key_Up);
    QTest::keyClick(tab.cbAudioDevices->view(), Qt::Key_Return);
    const QImage image = window->grab().toImage();
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    EXPECT_TRUE(image.save(QStringLiteral(ORVO_SCREENSHOT_DIR "/preferences-records.png")));

    QTest::mouseClick(tab.segmentQVideo->button(2), Qt::LeftButton);
    clickTab(0);
    EXPECT_EQ(setting("CallDetection"), "Record");
    EXPECT_EQ(setting("RemoveEcho"), "NO");
    EXPECT_EQ(setting("QVideo"), "2");
    EXPECT_EQ(setting("QAudio"), "0");
    EXPECT_EQ(setting("DefaultAudioDeviceForVideo"), "Built-in Microphone");

    // Loaded once: coming back shows what the user left, even when the file changed.
    writeSettings({{"QVideo", "0"}});
    records();
    EXPECT_EQ(tab.segmentQVideo->checkedId(), 2);
    window->close();
    EXPECT_EQ(setting("QVideo"), "2") << "closing the window stores too";

    // A vanished microphone shows the one a screen recording takes now, and stores empty.
    writeSettings({{"QAudio", "2"},
                   {"QVideo", "0"},
                   {"DefaultAudioDeviceForVideo", "Gone"},
                   {"CallDetection", "Off"}});
    open();
    PreferencesRecordViewController& again = records();
    EXPECT_EQ(again.segmentQAudio->checkedId(), 2);
    EXPECT_EQ(again.cbAudioDevices->currentText(), "Built-in Microphone");
    EXPECT_EQ(again.cbCallDetection->currentText(), "Do nothing");
    clickTab(0);
    EXPECT_EQ(setting("CallDetection"), "Off");
    EXPECT_EQ(setting("DefaultAudioDeviceForVideo"), "");
    EXPECT_EQ(setting("QAudio"), "2");
}

TEST_F(PreferencesWindowTest, SizeOfTheRecordingsCountsBothFoldersOrHides) {
    test::writeFile(API::audioRecordsPath() + "call.m4a", QByteArray(1'500'000, 'a'));
    test::writeFile(API::audioRecordsPath() + ".hidden", QByteArray(250'000, 'a'));
    test::writeFile(API::videoRecordsPath() + "screen.mov", QByteArray(3'000'000, 'v'));
    open();
    PreferencesRecordViewController& tab = records();
    EXPECT_EQ(tab.lblSizeRecords->text(),
              Localization::format(tab.txtSizeRecord, {1.75, tab.txtMb, 3.0, tab.txtMb}));
    EXPECT_FALSE(tab.lblSizeRecords->isHidden());

    QDir(API::videoRecordsPath()).removeRecursively();
    open();
    EXPECT_TRUE(records().lblSizeRecords->isHidden());
}

TEST_F(PreferencesWindowTest, AutoLaunchWritesTheAutostartEntryAndStoresOnlyOnSuccess) {
    writeSettings({{"AutoLaunch", "NO"}});
    open();
    ASSERT_FALSE(autoLaunch().isChecked());
    clickAutoLaunch();
    EXPECT_TRUE(autoLaunch().isChecked());
    EXPECT_EQ(setting("AutoLaunch"), "YES");
    const QString entry = QString::fromUtf8(test::readFile(entryPath()));
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n")) << entry.toStdString();
    EXPECT_TRUE(entry.contains("Exec=\"" + helperProgram + "\"\n")) << entry.toStdString();

    // Switched off: the entry goes, and the next opening shows the box off.
    open();
    ASSERT_TRUE(autoLaunch().isChecked());
    clickAutoLaunch();
    EXPECT_FALSE(QFileInfo::exists(entryPath()));
    EXPECT_EQ(setting("AutoLaunch"), "NO");
    open();
    EXPECT_FALSE(autoLaunch().isChecked());

    // A folder that cannot be made: the box keeps the click, the setting its old value.
    ASSERT_TRUE(QDir(autostartFolder()).removeRecursively());
    test::writeFile(autostartFolder(), "not a folder");
    clickAutoLaunch();
    EXPECT_TRUE(autoLaunch().isChecked());
    EXPECT_EQ(setting("AutoLaunch"), "NO");
}

TEST_F(PreferencesWindowTest, TheMenuOpensOneWindowOfPreferencesAndOneAboutPerProcess) {
    AppDelegate delegate;
    delegate.actionAbout();
    AboutWindowController* about = delegate.aboutWindow();
    ASSERT_NE(about, nullptr);
    about->close();
    delegate.actionAbout();
    EXPECT_EQ(delegate.aboutWindow(), about);
    EXPECT_TRUE(about->isVisible());
    EXPECT_TRUE(about->windowShouldClose());

    delegate.actionMenuPreferences();
    PreferencesWindowController* first = delegate.preferencesWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    first->close();
    delegate.actionMenuPreferences();
    EXPECT_EQ(delegate.preferencesWindow(), first);
    EXPECT_TRUE(first->isVisible());
    const QWidgetList windows = QApplication::topLevelWidgets();
    EXPECT_EQ(
        std::count_if(windows.begin(), windows.end(),
                      [](QWidget* w) { return qobject_cast<PreferencesWindowController*>(w); }),
        1);
}

} // namespace
} // namespace orvo
