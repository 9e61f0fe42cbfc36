// Test program: notes each start in a journal and restarts itself once.
#include <QCoreApplication>
#include <QFile>

#include "shell/API.h"

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QFile journal(qEnvironmentVariable("ORVO_RESTART_JOURNAL"));
    if (!journal.open(QIODevice::ReadWrite | QIODevice::Append)) {
        return 2;
    }
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    journal.write(QByteArray::number(QCoreApplication::applicationPid()) + " " +
                  arguments.join('|').toUtf8() + "\n");
    journal.seek(0);
    const bool firstStart = journal.readAll().count('\n') == 1;
    journal.close();
    if (firstStart) {
        orvo::API::restartApplication();
    }
    return 0;
}
