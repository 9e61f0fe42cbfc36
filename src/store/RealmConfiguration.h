#pragma once

#include <QString>
#include <QtGlobal>

namespace orvo {

// Where a records database lives and which schema version its file must carry
// (PRAGMA user_version). A file without tables is created at this version.
struct RealmConfiguration {
    QString filePath;
    quint32 schemaVersion = 1;
};

} // namespace orvo
