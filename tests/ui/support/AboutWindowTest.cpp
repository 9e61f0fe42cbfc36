#include "support/AboutWindowController.h"

#include <memory>

#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include "fakes/FakeWorkspace.h"
#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "support/AboutViewController.h"
#include "support/Dialogs.h"
#include "support/TestFiles.h"
#include "ui/AlertDialog.h"

namespace orvo {
namespace {

using test::modalAlert;

struct Listing {
    QStringList names;   // as unzip -l lists them
    bool intact = false; // unzip -t found every entry whole
};

QString run(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished();
    if (exitCode != nullptr) {
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

// What two unzip runs say of the archive: its entry names, and whether each reads back whole.
Listing unzipListing(const QString& archive) {
    Listing listing;
    // -Z1: one bare name per line.
    listing.names = run("unzip", {"-Z1", archive}).split('\n', Qt::SkipEmptyParts);
    listing.names.sort();
    int status = -1;
    const QString tested = run("unzip", {"-t", archive}, &status);
    listing.intact = status == 0 && tested.contains("No errors detected");
    return listing;
}

// Presses the report button and answers the alert that follows; returns its message.
QString pressBugReport(AboutViewController& view) {
    QTest::mouseClick(view.btnBugReport, Qt::LeftButton);
    AlertDialog* alert = modalAlert();
    if (alert == nullptr) {
        return {};
    }
    const QString message = alert->informativeText();
    QTest::mouseClick(alert->buttons().at(0), Qt::LeftButton);
    QCoreApplication::processEvents();
    return message;
}

// The window on a fresh storage tree, in English, with a fake desktop that records what it
// was asked to show and send.
class AboutWindowTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English));
        test::removeStorageTree();
        CopyFiles::checkFilesAndCopy();
        QDir(API::techLogPath()).removeRecursively();
        QDir().mkpath(API::techLogPath());
        auto fake = std::make_unique<FakeWorkspace>();
        workspace = fake.get();
        Platform::shared().install<Workspace>(std::move(fake));
        window = std::make_unique<AboutWindowController>();
        window->showWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        Platform::shared().clear();
        QLocale::setDefault(saved);
    }

    AboutViewController& view() { return *window->contentViewController(); }
    static void writeLog(const QString& name) {
        test::writeFile(API::techLogPath() + "/" + name, "line of " + name.toUtf8() + "\n");
    }

    QLocale saved;
    FakeWorkspace* workspace = nullptr;
    std::unique_ptr<AboutWindowController> window;
};

TEST_F(AboutWindowTest, ReportHoldsEveryTxtEntryUnderItsOwnNameAndIsShown) {
    for (const char* name :
         {"2026-12-05.txt", "2026-12-06.txt", "2026-12-07.txt", "notes.log", "old.txt.gz"}) {
        writeLog(name);
    }
    const QString message = pressBugReport(view());

    const QString archive = API::tempPath() + "/Bug report.zip";
    EXPECT_EQ(view().archivePath(), archive);
    const Listing listing = unzipListing(archive);
    EXPECT_EQ(listing.names,
              QStringList({"2026-12-05.txt", "2026-12-06.txt", "2026-12-07.txt", "old.txt.gz"}));
    EXPECT_TRUE(listing.intact);
    EXPECT_EQ(workspace->revealed, std::vector<QString>{archive});
    EXPECT_EQ(message, Localization::format(Localization::text("BUG_REPORT_CREATED"), {archive}));
}

TEST_F(AboutWindowTest, SecondPressReplacesTheArchiveWithTheFilesOfThatMoment) {
    writeLog("2026-12-06.txt");
    writeLog("2026-12-07.txt");
    pressBugReport(view());
    QFile::remove(API::techLogPath() + "/2026-12-06.txt");
    writeLog("2026-12-08.txt");
    pressBugReport(view());

    EXPECT_EQ(QDir(API::tempPath()).entryList({"*.zip"}, QDir::Files),
              QStringList{"Bug report.zip"});
    const Listing listing = unzipListing(view().archivePath());
    EXPECT_EQ(listing.names, QStringList({"2026-12-07.txt", "2026-12-08.txt"}));
    EXPECT_TRUE(listing.intact);

    // A report that cannot be written says so, and the earlier one is not passed off as it.
    QDir().mkpath(API::techLogPath() + "/unreadable.txt");
    workspace->revealed.clear();
    const QString message = pressBugReport(view());
    EXPECT_EQ(message, Localization::format(Localization::text("BUG_REPORT_FAILED"),
                                            {view().archivePath()}));
    EXPECT_FALSE(QFile::exists(view().archivePath()));
    EXPECT_TRUE(workspace->revealed.empty());
}

TEST_F(AboutWindowTest, AnotherLanguageGivesAnotherArchiveAndKeepsTheFirst) {
    writeLog("2026-12-07.txt");
    pressBugReport(view());
    const QString english = view().archivePath();

    QLocale::setDefault(QLocale(QLocale::Russian));
    window = std::make_unique<AboutWindowController>();
    window->showWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    pressBugReport(view());
    const QString russian = view().archivePath();

    EXPECT_EQ(russian, API::tempPath() + "/Отчёт об ошибке.zip");
    EXPECT_TRUE(QFile::exists(english));
    EXPECT_EQ(unzipListing(russian).names, QStringList{"2026-12-07.txt"});
    EXPECT_EQ(window->windowTitle(), "О программе");
}

TEST_F(AboutWindowTest, AnUnlistableLogFolderDoesNothingAndAnEmptyOneGivesAnEmptyArchive) {
    QDir(API::techLogPath()).removeRecursively();
    QTest::mouseClick(view().btnBugReport, Qt::LeftButton);
    EXPECT_EQ(modalAlert(), nullptr);
    EXPECT_TRUE(workspace->revealed.empty());
    EXPECT_FALSE(QFile::exists(view().archivePath()));

    QDir().mkpath(API::techLogPath());
    writeLog("notes.log");
    pressBugReport(view());
    // unzip's own words for a well-formed archive without entries; status 1 is its warning.
    int status = -1;
    const QString tested = run("unzip", {"-t", view().archivePath()}, &status);
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(tested.contains("zipfile is empty")) << tested.toStdString();
    EXPECT_EQ(workspace->revealed, std::vector<QString>{view().archivePath()});
}

TEST_F(AboutWindowTest, SupportExplainsFirstThenWritesToTheSupportAddress) {
    const QImage image = window->grab().toImage();
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    EXPECT_TRUE(image.save(QStringLiteral(ORVO_SCREENSHOT_DIR "/about-window.png")));
    QTest::mouseClick(view().btnSupport, Qt::LeftButton);
    AlertDialog* alert = modalAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(workspace->mailsTo.empty()) << "the mail waits for the answer";
    QTest::mouseClick(alert->buttons().at(0), Qt::LeftButton);
    QCoreApplication::processEvents();

    ASSERT_EQ(workspace->mailsTo.size(), 1U);
    EXPECT_EQ(workspace->mailsTo[0].recipients, QStringList{AboutViewController::supportAddress()});
    EXPECT_EQ(workspace->mailsTo[0].subject, API::prgName() + " for Linux Support");
    EXPECT_EQ(workspace->mailsTo[0].body, "\n");
    EXPECT_TRUE(workspace->mails.empty()) << "the archive is attached by the user";
}

} // namespace
} // namespace orvo
