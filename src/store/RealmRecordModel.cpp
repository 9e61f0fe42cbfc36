#include "store/RealmRecordModel.h"

#include <QRandomGenerator>
#include <QTextBoundaryFinder>
#include <QtGlobal>

#include "shell/API.h"
#include "store/Realm.h"
#include "store/RecordFields.h"

namespace orvo {
namespace {

QVariant variantOf(const QString& value) {
    return value;
}
QVariant variantOf(const QDateTime& value) {
    return value;
}
QVariant variantOf(bool value) {
    return value;
}
QVariant variantOf(double value) {
    return value;
}
QVariant variantOf(int value) {
    return value;
}
QVariant variantOf(const std::optional<QString>& value) {
    return value ? QVariant(*value) : QVariant();
}

} // namespace

QVariant RecordValues::value(int field) const {
    switch (field) {
    case fieldName:
        return name;
    case fieldFromPhone:
        return fromPhone;
    case fieldTime:
        return time;
    case fieldSymbol:
        return symbol;
    case fieldFileName:
        return fileName;
    case fieldFavorite:
        return favorite;
    case fieldDuration:
        return duration;
    case fieldRecognizeText:
        return recognizeText;
    case fieldDesigneID:
        return designeID;
    case fieldTypeRecord:
        return typeRecord;
    case fieldNote:
        return note;
    case fieldSocialIM:
        return variantOf(socialIM);
    case fieldSize:
        return size;
    default:
        return {};
    }
}

void RecordValues::setValue(int field, const QVariant& value) {
    switch (field) {
    case fieldName:
        name = value.toString();
        break;
    case fieldFromPhone:
        fromPhone = value.toString();
        break;
    case fieldTime:
        time = value.toDateTime();
        break;
    case fieldSymbol:
        symbol = value.toString();
        break;
    case fieldFileName:
        fileName = value.toString();
        break;
    case fieldFavorite:
        favorite = value.toBool();
        break;
    case fieldDuration:
        duration = value.toDouble();
        break;
    case fieldRecognizeText:
        recognizeText = value.toString();
        break;
    case fieldDesigneID:
        designeID = value.toInt();
        break;
    case fieldTypeRecord:
        typeRecord = value.toString();
        break;
    case fieldNote:
        note = value.toString();
        break;
    case fieldSocialIM:
        socialIM = value.isNull() ? std::nullopt : std::optional<QString>(value.toString());
        break;
    case fieldSize:
        size = value.toDouble();
        break;
    default:
        break;
    }
}

RealmRecordModel::RealmRecordModel(const QString& name, const QString& fromPhone,
                                   const QString& fileName, const QDateTime& time, double duration,
                                   RecordType typeRecord, const std::optional<QString>& socialIM,
                                   double size) {
    values_.name = name;
    values_.fromPhone = fromPhone;
    values_.time = time;
    values_.symbol = symbolFor(name);
    values_.fileName = fileName;
    values_.duration = duration;
    values_.designeID = int(QRandomGenerator::global()->bounded(7));
    values_.typeRecord = recordTypeText(typeRecord);
    values_.socialIM = socialIM;
    values_.size = size;
}

QString RealmRecordModel::symbolFor(const QString& name) {
    if (name.isEmpty()) {
        return {};
    }
    // A letter with combining marks is one character to the reader.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    const qsizetype end = graphemes.toNextBoundary();
    return name.left(end > 0 ? end : 1).toUpper();
}

template <typename T>
void RealmRecordModel::change(int field, T RecordValues::*member, const T& value) {
    if (invalidated_) {
        qWarning("RealmRecordModel: %s set on a deleted record", recordFields[field].name);
        Q_ASSERT_X(false, "RealmRecordModel", "field set on a deleted record");
        return;
    }
    if (realm_ != nullptr && !realm_->willChange(*this, field, variantOf(value))) {
        return;
    }
    values_.*member = value;
}

void RealmRecordModel::setName(const QString& value) {
    change(fieldName, &RecordValues::name, value);
}
void RealmRecordModel::setFromPhone(const QString& value) {
    change(fieldFromPhone, &RecordValues::fromPhone, value);
}
void RealmRecordModel::setTime(const QDateTime& value) {
    change(fieldTime, &RecordValues::time, value);
}
void RealmRecordModel::setSymbol(const QString& value) {
    change(fieldSymbol, &RecordValues::symbol, value);
}
void RealmRecordModel::setFileName(const QString& value) {
    change(fieldFileName, &RecordValues::fileName, value);
}
void RealmRecordModel::setFavorite(bool value) {
    change(fieldFavorite, &RecordValues::favorite, value);
}
void RealmRecordModel::setDuration(double value) {
    change(fieldDuration, &RecordValues::duration, value);
}
void RealmRecordModel::setRecognizeText(const QString& value) {
    change(fieldRecognizeText, &RecordValues::recognizeText, value);
}
void RealmRecordModel::setDesigneID(int value) {
    change(fieldDesigneID, &RecordValues::designeID, value);
}
void RealmRecordModel::setTypeRecord(const QString& value) {
    change(fieldTypeRecord, &RecordValues::typeRecord, value);
}
void RealmRecordModel::setNote(const QString& value) {
    change(fieldNote, &RecordValues::note, value);
}
void RealmRecordModel::setSocialIM(const std::optional<QString>& value) {
    change(fieldSocialIM, &RecordValues::socialIM, value);
}
void RealmRecordModel::setSize(double value) {
    change(fieldSize, &RecordValues::size, value);
}

std::optional<QString> RealmRecordModel::filePath() const {
    const bool audio = values_.typeRecord == recordTypeText(RecordType::audio);
    const QString folder = audio ? API::audioRecordsPath() : API::videoRecordsPath();
    const QString& name = values_.fileName;
    // A stored name such as "../x" must not lead anywhere but into the records folder.
    if (name.isEmpty() || name.contains('/') || name == "." || name == "..") {
        return std::nullopt;
    }
    return folder + name;
}

} // namespace orvo
