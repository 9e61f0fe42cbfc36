#pragma once

#include <QByteArray>
#include <QFile>

namespace orvo::bench {

// A line of /proc/self/status in MB ("VmRSS", "VmHWM", "RssAnon", ...); 0 when absent.
inline double statusMegabytes(const QByteArray& key) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return 0.0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key + ":")) {
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toDouble() / 1024.0;
        }
    }
    return 0.0;
}

} // namespace orvo::bench
