#include "shell/CopyFiles.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

#include "shell/API.h"
#include "shell/Bundle.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

class CopyFilesTest : public testing::Test {
protected:
    void SetUp() override { test::removeStorageTree(); }
    static QString at(const QString& entry) { return API::homePath() + "/" + entry; }
};

TEST_F(CopyFilesTest, CreatesTheWholeTreeOnceAndThenStaysQuiet) {
    const QString first = test::capturedConsole([] { CopyFiles::checkFilesAndCopy(); });
    EXPECT_TRUE(first.isEmpty()) << first.toStdString();

    for (const QString& folder : CopyFiles::arrayFolders()) {
        EXPECT_TRUE(QFileInfo(at(folder)).isDir()) << folder.toStdString();
    }
    const auto resource = Bundle::pathForResource("Settings", "plist");
    ASSERT_TRUE(resource.has_value());
    EXPECT_EQ(test::readFile(API::settingsPath()), test::readFile(*resource));

    const QDateTime modified = QFileInfo(API::settingsPath()).lastModified();
    const QString second = test::capturedConsole([] { CopyFiles::checkFilesAndCopy(); });
    EXPECT_TRUE(second.isEmpty()) << second.toStdString();
    EXPECT_EQ(QFileInfo(API::settingsPath()).lastModified(), modified);
}

TEST_F(CopyFilesTest, RecreatesOnlyWhatIsMissingAndNeverOverwritesSettings) {
    CopyFiles::checkFilesAndCopy();
    const QString recording = API::audioRecordsPath() + "20240131140509.m4a";
    test::writeFile(recording, "audio");
    test::writeFile(API::settingsPath(), "user settings");
    ASSERT_TRUE(QDir(at("Records/Video")).removeRecursively());

    CopyFiles::checkFilesAndCopy();

    EXPECT_TRUE(QFileInfo(at("Records/Video")).isDir());
    EXPECT_EQ(test::readFile(recording), "audio");
    EXPECT_EQ(test::readFile(API::settingsPath()), "user settings");

    // Also the folder above the tree.
    ASSERT_TRUE(QDir(QFileInfo(API::homePath()).path()).removeRecursively());
    CopyFiles::checkFilesAndCopy();
    EXPECT_TRUE(QFileInfo(at("Temp/Icon")).isDir());
}

TEST_F(CopyFilesTest, ReportsFailuresOnTheConsoleAndGoesOn) {
    // A file where the root folder should be: nothing below it can be created.
    test::writeFile(API::homePath(), "not a folder");
    const QString console = test::capturedConsole([] { CopyFiles::checkFilesAndCopy(); });
    EXPECT_TRUE(console.contains("Cannot create folder " + at("Records")));
    EXPECT_TRUE(console.contains("Cannot create folder " + at("Temp/Icon")));
    EXPECT_TRUE(console.contains("Cannot copy"));
    QFile::remove(API::homePath());
}

} // namespace
} // namespace orvo
