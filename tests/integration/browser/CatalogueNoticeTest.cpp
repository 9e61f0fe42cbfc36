// The records window on the X server of scripts/test when the catalogue in use is not the
// user's file as it was: the notice between the search field and the table tells what became
// of it, and is gone for a catalogue that opened as it was.
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include "browser/MainViewController.h"
#include "browser/RecordTableViewController.h"
#include "shell/API.h"
#include "shell/CopyFiles.h"
#include "shell/Localization.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "support/TestFiles.h"

namespace orvo {
namespace {

void saveScreenshot(QWidget& window, const QString& name) {
    QDir().mkpath(ORVO_SCREENSHOT_DIR);
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    EXPECT_TRUE(shot.save(QString(ORVO_SCREENSHOT_DIR) + "/" + name + ".png"));
}

TEST(CatalogueNoticeTest, SaysWhereTheUnreadableCatalogueWentOrThatRecordsWaitAndNothingElse) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "needs the X server of scripts/test";
    CopyFiles::checkFilesAndCopy();
    // The user's catalogue, overwritten by another program.
    test::writeFile(API::recordsRealmPath(), QByteArray(8192, 'x'));
    ASSERT_TRUE(Realm::setDefaultConfiguration({API::recordsRealmPath(), 1}));
    ASSERT_TRUE(realm().openingNotice().has_value());
    const QString movedTo = realm().openingNotice()->catalogueMovedTo;
    ASSERT_TRUE(QFileInfo(movedTo).isFile());
    const QDateTime now = QDateTime::currentDateTime();
    realm().write([&] {
        realm().add(std::make_shared<RealmRecordModel>("Call with Anna Petrova", "79161234567",
                                                       "notice-1.m4a", now, 754, RecordType::audio,
                                                       std::nullopt, 1.21));
        realm().add(std::make_shared<RealmRecordModel>("Weekly planning", "", "notice-2.m4a",
                                                       now.addSecs(-3600), 1834, RecordType::audio,
                                                       std::nullopt, 3.52));
    });

    MainViewController window;
    window.resize(860, 560);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QLabel& notice = *window.catalogueNotice;
    ASSERT_TRUE(notice.isVisible());
    EXPECT_TRUE(notice.text().contains(Localization::text("CATALOGUE_NEW")));
    const QRect searchBar = window.searchField->geometry().translated(
        window.searchField->parentWidget()->mapTo(&window, QPoint()));
    const QRect table = window.recordsTableView->geometry();
    EXPECT_GT(notice.geometry().top(), searchBar.bottom());
    EXPECT_GT(table.top(), notice.geometry().bottom());
    EXPECT_GE(notice.height(), notice.heightForWidth(notice.width()));
    EXPECT_EQ(window.recordsTableView->numberOfRows(), 2);
    QTest::qWait(200);
    saveScreenshot(window, "records-window-catalogue-moved");
    // The whole path, to be selected and copied as it is.
    const qsizetype at = notice.text().indexOf(movedTo);
    ASSERT_GE(at, 0) << notice.text().toStdString();
    notice.setSelection(int(at), int(movedTo.size()));
    EXPECT_EQ(notice.selectedText(), movedTo);

    // A start that cannot open its catalogue at all: a folder stands where it belongs.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QDir(elsewhere.path()).mkdir("records.realm"));
    {
        Realm blocked(RealmConfiguration{elsewhere.filePath("records.realm"), 1});
        window.showOpeningNotice(blocked.openingNotice());
    }
    ASSERT_TRUE(notice.isVisible());
    EXPECT_TRUE(notice.text().contains(Localization::text("CATALOGUE_PENDING")));
    EXPECT_FALSE(notice.text().contains(movedTo));
    QTest::qWait(200);
    saveScreenshot(window, "records-window-catalogue-pending");

    {
        Realm usual(RealmConfiguration{elsewhere.filePath("usual.realm"), 1});
        window.showOpeningNotice(usual.openingNotice());
    }
    EXPECT_FALSE(notice.isVisible());
    EXPECT_LE(window.recordsTableView->geometry().top(), notice.geometry().top());
}

} // namespace
} // namespace orvo
