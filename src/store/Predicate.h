#pragma once

#include <stdexcept>

#include <QString>
#include <QVariantList>

namespace orvo {

// A query that cannot be built: a malformed predicate, an unknown field, a value of the wrong
// type, a wrong number of arguments or an unknown sort key path.
class QueryError : public std::runtime_error {
public:
    explicit QueryError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// A condition over the record table: SQL text with one ? per binding, in order.
struct SqlCondition {
    QString sql;
    QVariantList bindings;
};

// Translates a predicate over the record's fields into an SQL condition. Grammar: comparisons
// == (or =) and != (or <>) between a field and a value, `field contains[c|d|cd] value`,
// AND/&&, OR/||, NOT/!, parentheses and the constants true/false (also as a whole predicate).
// Values: 'text' or "text" with backslash escapes, numbers, true/false/yes/no, nil/null and
// %@, which takes the next of arguments. Keywords ignore case, field names do not.
// Throws QueryError, never anything else.
SqlCondition compilePredicate(const QString& predicate, const QVariantList& arguments);

} // namespace orvo
