#include "shell/SettingsManager.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

constexpr char plistHead[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
)";

class SettingsManagerTest : public testing::Test {
protected:
    void SetUp() override {
        test::removeStorageTree();
        CopyFiles::checkFilesAndCopy();
        QFile::remove(API::settingsPath());
    }
    SettingsManager& settings = SettingsManager::shared();
};

// Reads the file with Python's own property-list reader, independent of ours.
QString readWithPython(const QString& key) {
    QProcess python;
    python.start("python3", {"-c",
                             "import plistlib, sys\n"
                             "d = plistlib.load(open(sys.argv[1], 'rb'))\n"
                             "sys.stdout.write(d[sys.argv[2]])",
                             API::settingsPath(), key});
    python.waitForFinished();
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    return QString::fromUtf8(python.readAllStandardOutput());
}

TEST_F(SettingsManagerTest, AMissingFileComesBackWithTheDefaultsAndSaysSo) {
    QString value;
    const QString console = test::capturedConsole([&] { value = settings.getValue("QAudio"); });
    EXPECT_EQ(value, "2");
    EXPECT_EQ(console.trimmed(), "Settings file not exist. Created. Path: " + API::settingsPath());
    // Also when deleted while the program runs.
    settings.writeValueSetting("0", "QAudio");
    ASSERT_EQ(settings.getValue("QAudio"), "0");
    QFile::remove(API::settingsPath());
    EXPECT_EQ(settings.getValue("QAudio"), "2");
}

TEST_F(SettingsManagerTest, WritesAreReadBackByUsAndByAnIndependentReader) {
    const QString console =
        test::capturedConsole([&] { settings.writeValueSetting("1", "QVideo"); });
    EXPECT_TRUE(console.endsWith("Set setting QVideo: 1\n")) << console.toStdString();
    EXPECT_EQ(settings.getValue("QVideo"), "1");
    EXPECT_EQ(readWithPython("QVideo"), "1");

    const QString name = QString::fromUtf8("Микрофон «USB» <Jabra> & Co");
    settings.writeValueSetting(name, "DefaultAudioDeviceForVideo");
    settings.writeValueSetting("fresh", "NewKey");
    EXPECT_EQ(settings.getValue("DefaultAudioDeviceForVideo"), name);
    EXPECT_EQ(readWithPython("DefaultAudioDeviceForVideo"), name);
    EXPECT_EQ(settings.getValue("NewKey"), "fresh");
    EXPECT_EQ(settings.getValue("QAudio"), "2");
}

TEST_F(SettingsManagerTest, AbsentKeysAndValuesOfOtherTypesReadAsEmpty) {
    test::writeFile(API::settingsPath(), QByteArray(plistHead) +
                                             "<dict>"
                                             "<key>QAudio</key><integer>2</integer>"
                                             "<key>AutoLaunch</key><true/>"
                                             "<key>QVideo</key><string>0</string>"
                                             "</dict></plist>\n");
    EXPECT_EQ(settings.getValue("QAudio"), "");
    EXPECT_EQ(settings.getValue("AutoLaunch"), "");
    EXPECT_EQ(settings.getValue("Missing"), "");
    EXPECT_EQ(settings.getValue("QVideo"), "0");
}

TEST_F(SettingsManagerTest, AnUnreadableFileIsNeverReplaced) {
    const QList<QByteArray> broken = {
        "this is not a property list",
        QByteArray(plistHead) + "<dict><key>QAudio</key><string>2</str",
        QByteArray(plistHead) + "<array><string>2</string></array></plist>\n",
        QByteArray(),
    };
    for (const QByteArray& content : broken) {
        test::writeFile(API::settingsPath(), content);
        EXPECT_EQ(settings.getValue("QAudio"), "") << content.toStdString();
        const QString console =
            test::capturedConsole([&] { settings.writeValueSetting("1", "QAudio"); });
        EXPECT_TRUE(console.contains("Set setting QAudio: 1"));
        EXPECT_EQ(test::readFile(API::settingsPath()), content);
    }
}

// A key or string holding a NUL byte makes the property-list library abort when it is
// walked; such a file reads as unreadable, binary or not.
TEST_F(SettingsManagerTest, BinaryFilesReadAndFilesTheLibraryCannotWalkAreUnreadable) {
    const QString cases = ORVO_SETTINGS_CASES;
    QFile::copy(cases + "/binary.plist", API::settingsPath());
    EXPECT_EQ(settings.getValue("QAudio"), "2");
    settings.writeValueSetting("0", "QVideo");
    EXPECT_EQ(readWithPython("QVideo"), "0") << "written back as XML";
    EXPECT_EQ(settings.getValue("AutoLaunch"), "NO");

    for (const char* name : {"crash-utf16-nul-key.plist", "crash-utf16-nul-string.plist",
                             "xml-entities-and-other-types.plist"}) {
        const QByteArray content = test::readFile(cases + "/" + name);
        ASSERT_FALSE(content.isEmpty()) << name;
        test::writeFile(API::settingsPath(), content);
        EXPECT_EQ(settings.getValue("QAudio"), "") << name;
        settings.writeValueSetting("1", "QAudio");
        EXPECT_EQ(test::readFile(API::settingsPath()), content) << name;
    }
}

} // namespace
} // namespace orvo
