#include "shell/API.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include "platform/AudioHardware.h"
#include "platform/Platform.h"
#include "shell/Bundle.h"
#include "shell/ProcessExit.h"

namespace orvo {

const QString& API::prgName() {
    static const QString value = QStringLiteral(ORVO_PROGRAM_NAME);
    return value;
}

const QString& API::prgVersion() {
    static const QString value = QStringLiteral(ORVO_VERSION);
    return value;
}

const QString& API::prgTitle() {
    static const QString value = prgName() + " v." + prgVersion();
    return value;
}

const QString& API::homePath() {
    static const QString value =
        QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) + "/ORVO";
    return value;
}

const QString& API::recordsRealmPath() {
    static const QString value = homePath() + "/records.realm";
    return value;
}

const QString& API::audioRecordsPath() {
    static const QString value = homePath() + "/Records/Audio/";
    return value;
}

const QString& API::videoRecordsPath() {
    static const QString value = homePath() + "/Records/Video/";
    return value;
}

const QString& API::tempPath() {
    static const QString value = homePath() + "/Temp";
    return value;
}

const QString& API::iconAppsPath() {
    static const QString value = homePath() + "/Temp/Icon";
    return value;
}

const QString& API::techLogPath() {
    static const QString value = homePath() + "/Temp/Techlog";
    return value;
}

const QString& API::settingsPath() {
    static const QString value = homePath() + "/Settings.plist";
    return value;
}

const QString& API::audioExtension() {
    static const QString value = QStringLiteral(".m4a");
    return value;
}

const QString& API::videoExtension() {
    static const QString value = QStringLiteral(".mov");
    return value;
}

const QStringList& API::socialIM() {
    static const QStringList value = {
        "FaceTime.app", "Skype.app",        "Viber.app",    "Discord.app",  "ICQ.app",
        "Trillian.app", "QQ.app",           "WhatsApp.app", "Telegram.app", "Mail.Ru Agent.app",
        "Messages.app", "VK Messenger.app", "Mail.app",     "zoom.us.app"};
    return value;
}

QString API::pathDriver() {
    // A directory that the driver's install script creates and its uninstall script removes.
    if (const auto* audio = Platform::shared().find<AudioHardware>()) {
        return audio->installedDriverPath();
    }
    return AudioHardware::standardInstalledDriverPath();
}

const QString& API::budnleIDHelper() {
    static const QString value = QStringLiteral("com.orvo.orvomac-helper");
    return value;
}

void API::restartApplication() {
    const QStringList arguments = QCoreApplication::arguments();
    QProcess::startDetached(Bundle::executablePath(), arguments.mid(1));
    exitProcessNow(0);
}

} // namespace orvo
