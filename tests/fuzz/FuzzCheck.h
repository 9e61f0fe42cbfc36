#pragma once

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>

namespace orvo::fuzz {

// An invariant of a harness: when it does not hold, the input is a finding.
inline void check(bool holds, const char* invariant) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", invariant);
        std::abort();
    }
}

// The store and the platform's objects want an application object: one for the process.
inline void ensureApplication() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

// Where a harness keeps the files of its runs: a memory file system where there is one, since
// every run that writes the catalogue syncs its journal.
inline QString scratchRoot() {
    static const QString root =
        QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? "/dev/shm" : QDir::tempPath();
    return root;
}

} // namespace orvo::fuzz
