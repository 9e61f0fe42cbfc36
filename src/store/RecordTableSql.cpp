#include "store/RecordTableSql.h"

#include <QDateTime>

#include "store/RecordFields.h"
#include "store/TextFolding.h"

namespace orvo {

QString RecordTableSql::sqlType(FieldKind kind) {
    switch (kind) {
    case FieldKind::text:
        return "TEXT NOT NULL DEFAULT ''";
    case FieldKind::optionalText:
        return "TEXT";
    case FieldKind::boolean:
    case FieldKind::integer:
        return "INTEGER NOT NULL DEFAULT 0";
    case FieldKind::real:
        return "REAL NOT NULL DEFAULT 0";
    case FieldKind::date:
        return "INTEGER NOT NULL";
    }
    return "TEXT";
}

QString RecordTableSql::createSchemaSql(quint32 version, const QString& indexSql) {
    QStringList columns{"id INTEGER PRIMARY KEY AUTOINCREMENT"};
    for (const RecordField& field : recordFields) {
        columns << QString("\"%1\" %2").arg(field.name, sqlType(field.kind));
    }
    for (int field = 0; field < fieldCount; ++field) {
        if (isTextField(field)) {
            columns << QString("\"%1\" TEXT").arg(foldedColumnName(field));
        }
    }
    // The records table is always read newest first.
    return QString("BEGIN; CREATE TABLE %1 (%2); CREATE INDEX %1_time ON %1(\"time\"); %3 "
                   "PRAGMA user_version = %4; COMMIT;")
        .arg(tableName, columns.join(", "), indexSql)
        .arg(version);
}

QString RecordTableSql::fieldList() {
    QStringList names;
    for (const RecordField& field : recordFields) {
        names << QString("\"%1\"").arg(field.name);
    }
    return names.join(", ");
}

// The columns of the records table: the fields, and with folded copies those after them.
QStringList RecordTableSql::tableColumns(bool withFoldedCopies) {
    QStringList columns{"id"};
    for (const RecordField& field : recordFields) {
        columns << field.name;
    }
    for (int field = 0; withFoldedCopies && field < fieldCount; ++field) {
        if (isTextField(field)) {
            columns << foldedColumnName(field);
        }
    }
    return columns;
}

// Every field in a new row, each text field with its folded copy from the same bound value.
QString RecordTableSql::insertSql() {
    QStringList names;
    QStringList values;
    for (int field = 0; field < fieldCount; ++field) {
        names << QString("\"%1\"").arg(recordFields[field].name);
        values << QString("?%1").arg(field + 1);
    }
    for (int field = 0; field < fieldCount; ++field) {
        if (isTextField(field)) {
            names << QString("\"%1\"").arg(foldedColumnName(field));
            values << QString("orvo_fold(?%1)").arg(field + 1);
        }
    }
    return QString("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(tableName, names.join(", "), values.join(", "));
}

// One field of one row, a text field together with its folded copy.
QString RecordTableSql::updateSql(int field) {
    QString sql = QString("UPDATE %1 SET \"%2\" = ?1").arg(tableName, recordFields[field].name);
    if (isTextField(field)) {
        sql += QString(", \"%1\" = orvo_fold(?1)").arg(foldedColumnName(field));
    }
    return sql + " WHERE id = ?2";
}

QVariant RecordTableSql::columnValue(const SqliteStatement& row, int column, FieldKind kind) {
    switch (kind) {
    case FieldKind::text:
        return row.text(column);
    case FieldKind::optionalText:
        return row.isNull(column) ? QVariant() : QVariant(row.text(column));
    case FieldKind::boolean:
        return row.int64(column) != 0;
    case FieldKind::integer:
        return int(row.int64(column));
    case FieldKind::real:
        return row.real(column);
    case FieldKind::date:
        return QDateTime::fromMSecsSinceEpoch(row.int64(column));
    }
    return {};
}

} // namespace orvo
