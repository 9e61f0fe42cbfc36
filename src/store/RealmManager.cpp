#include "store/RealmManager.h"

#include "store/Realm.h"

namespace orvo {

bool RealmManager::saveObject(const std::shared_ptr<RealmRecordModel>& record) {
    return realm().write([&] { realm().add(record); });
}

void RealmManager::deleteObject(const std::shared_ptr<RealmRecordModel>& record) {
    realm().write([&] { realm().remove(record); });
}

void RealmManager::updateObjectFavorite(const std::shared_ptr<RealmRecordModel>& record,
                                        bool favorite) {
    realm().write([&] { record->setFavorite(favorite); });
}

void RealmManager::updateObjectName(const std::shared_ptr<RealmRecordModel>& record,
                                    const QString& name, const QString& fileName) {
    realm().write([&] {
        record->setName(name.isEmpty() ? "Record_" + fileName : name);
        record->setSymbol(RealmRecordModel::symbolFor(name));
    });
}

void RealmManager::updateObjectNote(const std::shared_ptr<RealmRecordModel>& record,
                                    const QString& note) {
    realm().write([&] { record->setNote(note); });
}

void RealmManager::updateObjectDuration(const std::shared_ptr<RealmRecordModel>& record,
                                        double seconds) {
    realm().write([&] { record->setDuration(seconds); });
}

bool RealmManager::updateObjectRecognizerText(const std::shared_ptr<RealmRecordModel>& record,
                                              const QString& text) {
    return realm().write([&] { record->setRecognizeText(text); });
}

} // namespace orvo
