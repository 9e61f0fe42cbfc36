#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QString>
#include <QVariantList>

namespace orvo {

// A query that cannot be built: a malformed predicate, an unknown field, a value of the wrong
// type, a wrong number of arguments or an unknown sort key path.
class QueryError : public std::runtime_error {
public:
    explicit QueryError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    // Kept whole: what() ends at the first NUL, and a predicate may hold one.
    QString message() const { return message_; }

private:
    QString message_;
};

// A condition made only of contains[cd] on name or recognizeText, favorite compared with a
// boolean, the constants, AND, OR and NOT: the searches of the records window, which the
// store answers from memory instead of scanning the table.
struct SearchTerm {
    enum class Kind { constant, favorite, nameContains, recognizeTextContains, all, any, negation };
    Kind kind = Kind::constant;
    // constant: its value; favorite: the value it must have.
    bool value = false;
    // The contains kinds: the needle folded as the stored copies are, in UTF-8.
    std::string needle;
    // all, any: the operands; negation: the one it negates.
    std::vector<SearchTerm> terms;
};

// A condition over the record table: SQL text with one ? per binding, in order, and the same
// condition as a search term when it is one.
struct SqlCondition {
    QString sql;
    QVariantList bindings;
    std::optional<SearchTerm> search;
};

// Both terms, or none when either is none.
std::optional<SearchTerm> bothTerms(const std::optional<SearchTerm>& first,
                                    const std::optional<SearchTerm>& second);

// Translates a predicate over the record's fields into an SQL condition. Grammar: comparisons
// == (or =) and != (or <>) between a field and a value, `field contains[c|d|cd] value`,
// AND/&&, OR/||, NOT/!, parentheses and the constants true/false (also as a whole predicate).
// Values: 'text' or "text" with backslash escapes, numbers, true/false/yes/no, nil/null and
// %@, which takes the next of arguments. Keywords ignore case, field names do not.
// Throws QueryError, never anything else.
SqlCondition compilePredicate(const QString& predicate, const QVariantList& arguments);

} // namespace orvo
