#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include "store/RecordFields.h"
#include "store/SqliteDatabase.h"

namespace orvo {

// The SQL of the records table: its schema, its columns, and the statements that write one
// record, each text field with its folded copy for searching.
class RecordTableSql {
public:
    RecordTableSql() = delete;

    static constexpr char tableName[] = "RealmRecordModel";

    static QString sqlType(FieldKind kind);
    // The whole schema in one transaction, with the statements of the indexes over the table.
    static QString createSchemaSql(quint32 version, const QString& indexSql);
    static QString fieldList();
    // The columns of the records table: the fields, and with folded copies those after them.
    static QStringList tableColumns(bool withFoldedCopies);
    // Every field in a new row, each text field with its folded copy from the same bound value.
    static QString insertSql();
    // One field of one row, a text field together with its folded copy.
    static QString updateSql(int field);
    static QVariant columnValue(const SqliteStatement& row, int column, FieldKind kind);
};

} // namespace orvo
