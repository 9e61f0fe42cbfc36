#pragma once

#include <QString>
#include <QStringList>

namespace orvo {

// Program constants and the paths of the storage tree. Each value is computed once, on first
// use, and never changes afterwards; any thread may read them.
class API {
public:
    API() = delete;

    static const QString& prgName();
    static const QString& prgVersion();
    static const QString& prgTitle();

    static const QString& homePath();
    static const QString& recordsRealmPath();
    static const QString& audioRecordsPath();
    static const QString& videoRecordsPath();
    static const QString& tempPath();
    static const QString& iconAppsPath();
    static const QString& techLogPath();
    static const QString& settingsPath();

    static const QString& audioExtension();
    static const QString& videoExtension();
    static const QStringList& socialIM();
    // The installed driver's directory, as the audio hardware backend knows it (tests keep
    // theirs in a private folder). Any thread.
    static QString pathDriver();
    static const QString& budnleIDHelper();

    // Main thread. Starts the running executable again with the same arguments and ends this
    // process with status 0.
    [[noreturn]] static void restartApplication();
};

} // namespace orvo
