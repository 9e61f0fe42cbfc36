#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace orvo {
namespace {

TEST(Restart, StartsTheSameExecutableWithTheSameArgumentsAndEndsWithZero) {
    QTemporaryDir folder;
    const QString journal = folder.filePath("journal");
    const QStringList arguments = {"a b", "it's \"quoted\"", "$(touch nope)", ""};

    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ORVO_RESTART_JOURNAL", journal);
    probe.setProcessEnvironment(environment);
    probe.start(ORVO_RESTART_PROBE, arguments);
    ASSERT_TRUE(probe.waitForFinished(10000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0);

    test::waitUntil([&] { return test::readLines(journal).size() >= 2; }, 10000);
    const QStringList starts = test::readLines(journal);
    ASSERT_EQ(starts.size(), 2);
    EXPECT_NE(starts[0].section(' ', 0, 0), starts[1].section(' ', 0, 0));
    EXPECT_EQ(starts[0].section(' ', 1), arguments.join('|'));
    EXPECT_EQ(starts[1].section(' ', 1), arguments.join('|'));
    EXPECT_FALSE(QFile::exists("nope"));
}

} // namespace
} // namespace orvo
