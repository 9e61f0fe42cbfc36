#pragma once

#include <memory>

#include <QString>

#include "store/RealmRecordModel.h"

namespace orvo {

// Every change of the catalogue: each operation is one write transaction on the shared
// handle, so that the live results notify their observers. Records must belong to the
// shared handle, except the new one given to saveObject. Main thread only.
class RealmManager {
public:
    RealmManager() = delete;

    // Whether the record is stored; the database's failure is logged.
    static bool saveObject(const std::shared_ptr<RealmRecordModel>& record);
    // Removes the catalogue entry only; the recording file stays.
    static void deleteObject(const std::shared_ptr<RealmRecordModel>& record);
    static void updateObjectFavorite(const std::shared_ptr<RealmRecordModel>& record,
                                     bool favorite);
    // An empty name becomes "Record_" + fileName; symbol follows the given name.
    static void updateObjectName(const std::shared_ptr<RealmRecordModel>& record,
                                 const QString& name, const QString& fileName);
    static void updateObjectNote(const std::shared_ptr<RealmRecordModel>& record,
                                 const QString& note);
    static void updateObjectDuration(const std::shared_ptr<RealmRecordModel>& record,
                                     double seconds);
    // False when the catalogue refused the write.
    static bool updateObjectRecognizerText(const std::shared_ptr<RealmRecordModel>& record,
                                           const QString& text);
};

} // namespace orvo
