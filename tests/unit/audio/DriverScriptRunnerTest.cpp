#include "audio/DriverScriptRunner.h"

#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "support/TestFiles.h"

namespace orvo {
namespace {

TEST(DriverScriptRunner, RunsAsRootOnlyFilesThatNoOneButRootCanChange) {
    EXPECT_EQ(DriverScriptRunner::unsafeForRoot("/bin/sh"), std::nullopt);
    EXPECT_NE(DriverScriptRunner::unsafeForRoot("/no/such/script.sh"), std::nullopt);

    QTemporaryDir dir;
    const QString script = dir.path() + "/install_driver.sh";
    test::writeFile(script, "exit 0\n");
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner |
                                                  QFile::ReadGroup | QFile::WriteGroup));
    const auto groupWritable = DriverScriptRunner::unsafeForRoot(script);
    ASSERT_NE(groupWritable, std::nullopt);
    EXPECT_TRUE(groupWritable->contains(script));

    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner));
    // The user's own file is safe only when that user is root.
    EXPECT_EQ(DriverScriptRunner::unsafeForRoot(script).has_value(), geteuid() != 0);
}

TEST(DriverScriptRunner, AnInstalledProgramRefusesAScriptOthersCanChange) {
    if (!DriverScriptRunner::runsInstalled()) {
        GTEST_SKIP() << "this build tree belongs to a user: its scripts run with a warning";
    }
    QTemporaryDir dir;
    const QString marker = dir.path() + "/ran";
    const QString script = dir.path() + "/install_driver.sh";
    test::writeFile(script, ("touch '" + marker + "'\n").toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther |
                                      QFile::WriteOther);

    const auto error = DriverScriptRunner::runScriptAtPath(script);
    ASSERT_NE(error, std::nullopt);
    EXPECT_TRUE(error->contains("can be changed by other users"));
    EXPECT_FALSE(QFile::exists(marker));
}

} // namespace
} // namespace orvo
