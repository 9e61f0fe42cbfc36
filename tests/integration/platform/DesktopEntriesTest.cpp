#include "platform/linux/desktop/DesktopEntries.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "platform/linux/desktop/LinuxDisplays.h"
#include "platform/linux/desktop/LinuxWorkspace.h"

namespace orvo {
namespace {

void write(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

QByteArray entry(const QByteArray& keys) {
    return "[Desktop Entry]\nType=Application\n" + keys;
}

class DesktopEntriesTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(user()));
        ASSERT_TRUE(QDir().mkpath(machine()));
    }
    QString user() const { return root.path() + "/user/applications"; }
    QString machine() const { return root.path() + "/machine/applications"; }

    QTemporaryDir root;
};

TEST_F(DesktopEntriesTest, FindsTheOwnerByWindowClassThenProgramThenId) {
    write(machine() + "/org.telegram.desktop.desktop",
          entry("Name=Telegram\nExec=env QT_SCALE=1 /opt/telegram/Telegram -- %u\n"));
    write(machine() + "/skype.desktop",
          entry("Name=Skype\nExec=\"/usr/bin/skype app\" %U\nStartupWMClass=Skype\n"));
    write(machine() + "/viber.desktop", entry("Name=Viber\nExec=viber %u\n"));
    write(machine() + "/com.discordapp.Discord.desktop", entry("Name=Discord\nExec=Discord\n"));
    write(machine() + "/hidden.desktop", entry("Name=Hidden\nHidden=true\nStartupWMClass=Zed\n"));
    write(machine() + "/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=x\n");
    DesktopEntries entries({user(), machine()});

    const auto name = [&](const WindowOwner& owner) {
        const auto found = entries.find(owner);
        return found ? found->name.value_or("?") : QString("none");
    };
    EXPECT_EQ(name({std::nullopt, "skype", "Skype"}), "Skype");
    EXPECT_EQ(name({QString("/usr/bin/skype app"), "", ""}), "Skype");
    EXPECT_EQ(name({QString("/opt/telegram/Telegram"), "", ""}), "Telegram");
    EXPECT_EQ(name({QString("/usr/local/bin/viber"), "", ""}), "Viber");
    EXPECT_EQ(name({std::nullopt, "viber", "Viber"}), "Viber");
    EXPECT_EQ(name({std::nullopt, "discord", "discord"}), "Discord"); // last dotted part
    EXPECT_EQ(name({std::nullopt, "zed", "Zed"}), "none");
    EXPECT_EQ(name({std::nullopt, "", "Link"}), "none");

    // The window class outranks the program; the user's own entry hides the machine's.
    write(machine() + "/tg-wrapper.desktop",
          entry("Name=Wrapper\nExec=/opt/telegram/Telegram\nStartupWMClass=TelegramDesktop\n"));
    write(user() + "/viber.desktop", entry("Name=My Viber\nExec=viber\n"));
    EXPECT_EQ(name({QString("/opt/telegram/Telegram"), "telegram", "TelegramDesktop"}), "Wrapper");
    EXPECT_EQ(name({std::nullopt, "viber", "Viber"}), "My Viber");
    EXPECT_EQ(name({QString("/usr/bin/viber"), "", ""}), "My Viber");
}

TEST_F(DesktopEntriesTest, NamesFollowTheUsersLanguage) {
    write(machine() + "/messages.desktop",
          entry("Name=Messages\nName[de]=Nachrichten\nName[ru]=Сообщения\nExec=messages\n"));
    const QByteArray language = qgetenv("LANGUAGE");
    qputenv("LANGUAGE", "de");
    EXPECT_EQ(DesktopEntries::read(machine() + "/messages.desktop")->name, "Nachrichten");
    qputenv("LANGUAGE", "ru");
    EXPECT_EQ(DesktopEntries::read(machine() + "/messages.desktop")->name, "Сообщения");
    qputenv("LANGUAGE", "C");
    EXPECT_EQ(DesktopEntries::read(machine() + "/messages.desktop")->name, "Messages");
    qputenv("LANGUAGE", language);
}

TEST_F(DesktopEntriesTest, ApplicationItemsAreTheFolderContentsNamedWithApp) {
    write(machine() + "/zoom.desktop", entry("Name=zoom.us\nExec=zoom\n"));
    write(machine() + "/noname.desktop", entry("Exec=x\n"));
    write(machine() + "/mimeinfo.cache", "[MIME Cache]\n");
    ASSERT_TRUE(QDir().mkpath(machine() + "/sub"));
    write(machine() + "/sub/skype.desktop", entry("Name=Skype\n"));

    LinuxWorkspace workspace;
    const auto items = workspace.applicationItems(machine());
    ASSERT_TRUE(items.has_value());
    QStringList seen;
    for (const ApplicationItem& item : *items) {
        seen << QFileInfo(item.path).fileName() + "=" + item.name.value_or("-");
    }
    EXPECT_EQ(seen, (QStringList{"mimeinfo.cache=-", "noname.desktop=-", "sub=-",
                                 "zoom.desktop=zoom.us.app"}));
    EXPECT_EQ(workspace.applicationItems(root.path() + "/missing"), std::nullopt);

    qputenv("XDG_DATA_DIRS", (root.path() + "/machine:" + root.path() + "/other").toUtf8());
    const QStringList folders = workspace.applicationFolders();
    ASSERT_GE(folders.size(), 2);
    EXPECT_EQ(folders[0], machine());
    EXPECT_EQ(folders[1], root.path() + "/other/applications");
}

TEST(LinuxDisplays, ReadsTheMonitorNameOfAnEdidBlock) {
    QByteArray edid(128, '\0');
    const char header[] = {0,          char(0xff), char(0xff), char(0xff),
                           char(0xff), char(0xff), char(0xff), 0};
    edid.replace(0, 8, QByteArray(header, 8));
    EXPECT_EQ(LinuxDisplays::edidProductName(edid), std::nullopt);
    // Serial number in the first descriptor, the name in the third.
    edid[54 + 3] = char(0xff);
    edid.replace(54 + 5, 13, "SN12345\n     ");
    edid[90 + 3] = char(0xfc);
    edid.replace(90 + 5, 13, "DELL U2415\n  ");
    EXPECT_EQ(LinuxDisplays::edidProductName(edid), "DELL U2415");
    EXPECT_EQ(LinuxDisplays::edidProductName(edid.left(100)), std::nullopt);
    edid[0] = 1;
    EXPECT_EQ(LinuxDisplays::edidProductName(edid), std::nullopt);
}

} // namespace
} // namespace orvo
