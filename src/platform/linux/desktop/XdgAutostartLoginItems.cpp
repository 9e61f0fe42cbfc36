#include "platform/linux/desktop/XdgAutostartLoginItems.h"

#include <utility>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace orvo {
namespace {

// An Exec argument as desktop files quote it; a percent sign would read as a field code.
QString quotedArgument(const QString& path) {
    QString escaped = path;
    for (const QString special : {"\\", "\"", "`", "$"}) {
        escaped.replace(special, "\\" + special);
    }
    escaped.replace('%', QStringLiteral("%%"));
    return '"' + escaped + '"';
}

} // namespace

XdgAutostartLoginItems::XdgAutostartLoginItems(QString helperProgram)
    : helperProgram_(std::move(helperProgram)) {}

QString XdgAutostartLoginItems::entryPath(const QString& identifier) {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value does not count, as for every XDG base directory.
    if (config.isEmpty() || QDir::isRelativePath(config)) {
        config = QDir::homePath() + "/.config";
    }
    return config + "/autostart/" + identifier + ".desktop";
}

bool XdgAutostartLoginItems::setLoginItemEnabled(const QString& identifier, bool enabled) {
    const QString path = entryPath(identifier);
    if (enabled) {
        writeEntry(path);
    } else {
        QFile::remove(path);
    }
    return QFileInfo::exists(path) == enabled;
}

bool XdgAutostartLoginItems::writeEntry(const QString& path) const {
    if (!QDir().mkpath(QFileInfo(path).path())) {
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString entry = "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=ORVO - Call Recorder Helper\n"
                          "Exec=" +
                          quotedArgument(helperProgram_) +
                          "\n"
                          "NoDisplay=true\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n";
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace orvo
