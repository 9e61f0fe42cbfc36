#pragma once

#include <optional>

#include <QDateTime>
#include <QString>
#include <QVariant>

#include "store/RecordType.h"

namespace orvo {

class Realm;

// The stored values of a record.
struct RecordValues {
    QString name;
    QString fromPhone;
    QDateTime time = QDateTime::currentDateTime();
    QString symbol;
    QString fileName;
    bool favorite = false;
    double duration = 0;
    QString recognizeText;
    int designeID = 0;
    QString typeRecord;
    QString note;
    std::optional<QString> socialIM;
    double size = 0;

    // By RecordFieldIndex; time as a QDateTime, an absent socialIM as a null QVariant.
    QVariant value(int field) const;
    void setValue(int field, const QVariant& value);
};

// The catalogue entry of one recording. Held through std::shared_ptr: once added to a Realm
// there is one object per stored row, shared by every holder, and it changes only inside
// that Realm's write transactions, on the main thread. A new record may be built on any
// thread and handed to the main thread to be saved.
class RealmRecordModel {
public:
    // All defaults; time is now.
    RealmRecordModel() = default;
    // symbol from name, a random designeID, typeRecord from type; the rest as given.
    RealmRecordModel(const QString& name, const QString& fromPhone, const QString& fileName,
                     const QDateTime& time, double duration, RecordType typeRecord,
                     const std::optional<QString>& socialIM, double size);

    RealmRecordModel(const RealmRecordModel&) = delete;
    RealmRecordModel& operator=(const RealmRecordModel&) = delete;
    ~RealmRecordModel() = default;

    // The first character of name upper-cased; empty for an empty name.
    static QString symbolFor(const QString& name);

    const QString& name() const { return values_.name; }
    const QString& fromPhone() const { return values_.fromPhone; }
    const QDateTime& time() const { return values_.time; }
    const QString& symbol() const { return values_.symbol; }
    const QString& fileName() const { return values_.fileName; }
    bool favorite() const { return values_.favorite; }
    double duration() const { return values_.duration; }
    const QString& recognizeText() const { return values_.recognizeText; }
    int designeID() const { return values_.designeID; }
    const QString& typeRecord() const { return values_.typeRecord; }
    const QString& note() const { return values_.note; }
    const std::optional<QString>& socialIM() const { return values_.socialIM; }
    double size() const { return values_.size; }
    const RecordValues& values() const { return values_; }

    // Setting a field of a stored record outside a write transaction of its Realm, or of a
    // deleted record, is a programming error: it asserts in debug builds and is ignored,
    // with a warning, otherwise.
    void setName(const QString& value);
    void setFromPhone(const QString& value);
    void setTime(const QDateTime& value);
    void setSymbol(const QString& value);
    void setFileName(const QString& value);
    void setFavorite(bool value);
    void setDuration(double value);
    void setRecognizeText(const QString& value);
    void setDesigneID(int value);
    void setTypeRecord(const QString& value);
    void setNote(const QString& value);
    void setSocialIM(const std::optional<QString>& value);
    void setSize(double value);

    // The recording's file: the audio records folder for "Audio", the video one otherwise,
    // followed directly by fileName; none when the stored name would lead out of the folder.
    std::optional<QString> filePath() const;

    // Stored in a Realm (and not deleted).
    bool isManaged() const { return realm_ != nullptr; }
    // Deleted from its Realm, or its Realm was closed.
    bool isInvalidated() const { return invalidated_; }
    Realm* realm() const { return realm_; }

private:
    friend class Realm;
    friend class Results;

    template <typename T> void change(int field, T RecordValues::*member, const T& value);

    RecordValues values_;
    // Owned and kept up to date by the Realm that stores this record.
    Realm* realm_ = nullptr;
    qint64 rowId_ = 0;
    bool invalidated_ = false;
};

} // namespace orvo
