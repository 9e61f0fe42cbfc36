#include "platform/linux/desktop/LinuxFileAttributes.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace orvo {
namespace {

// Whether the file system under path records birth times at all.
bool recordsBirthTimes(const QString& path) {
    struct statx info {};
    return statx(AT_FDCWD, path.toLocal8Bit().constData(), 0, STATX_BTIME, &info) == 0 &&
           (info.stx_mask & STATX_BTIME) != 0;
}

TEST(LinuxFileAttributes, ReportsTheBirthTimeOfANewFileAndNothingForAMissingOne) {
    QTemporaryDir folder;
    const QString path = folder.filePath("2024-01-31.txt");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    LinuxFileAttributes attributes;
    EXPECT_EQ(attributes.creationDate(folder.filePath("missing")), std::nullopt);

    const auto created = attributes.creationDate(path);
    if (!recordsBirthTimes(path)) {
        EXPECT_EQ(created, std::nullopt);
        GTEST_SKIP() << "this file system keeps no birth times";
    }
    ASSERT_TRUE(created.has_value());
    EXPECT_GE(*created, before);
    EXPECT_LE(*created, QDateTime::currentDateTime().addSecs(2));

    // Writing later changes the modification time, never the creation date.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("x");
    file.close();
    EXPECT_EQ(attributes.creationDate(path), created);
}

} // namespace
} // namespace orvo
