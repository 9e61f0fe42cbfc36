#pragma once

#include <array>
#include <optional>

#include <QString>

namespace orvo {

// How a stored field is typed in predicates and in the table.
enum class FieldKind { text, optionalText, boolean, integer, real, date };

struct RecordField {
    const char* name;
    FieldKind kind;
};

// The fields of RealmRecordModel in declaration order; the index of a field is its column
// in the table (after the row id) and its position in every field list of the store.
enum RecordFieldIndex {
    fieldName,
    fieldFromPhone,
    fieldTime,
    fieldSymbol,
    fieldFileName,
    fieldFavorite,
    fieldDuration,
    fieldRecognizeText,
    fieldDesigneID,
    fieldTypeRecord,
    fieldNote,
    fieldSocialIM,
    fieldSize,
    fieldCount
};

inline constexpr std::array<RecordField, fieldCount> recordFields{{
    {"name", FieldKind::text},
    {"fromPhone", FieldKind::text},
    {"time", FieldKind::date},
    {"symbol", FieldKind::text},
    {"fileName", FieldKind::text},
    {"favorite", FieldKind::boolean},
    {"duration", FieldKind::real},
    {"recognizeText", FieldKind::text},
    {"designeID", FieldKind::integer},
    {"typeRecord", FieldKind::text},
    {"note", FieldKind::text},
    {"socialIM", FieldKind::optionalText},
    {"size", FieldKind::real},
}};

// The index of the field with exactly this name.
std::optional<int> recordFieldIndex(const QString& name);

// Whether the field holds text, and so can be searched with contains. Inline: sorting a
// result asks it at every comparison.
inline bool isTextField(int field) {
    const FieldKind kind = recordFields[field].kind;
    return kind == FieldKind::text || kind == FieldKind::optionalText;
}

// The hidden column beside a text field that holds the field folded as contains[cd]
// compares it, so that a search compares stored text instead of folding every row.
QString foldedColumnName(int field);

} // namespace orvo
