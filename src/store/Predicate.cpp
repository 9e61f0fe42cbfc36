#include "store/Predicate.h"

#include <optional>

#include <QDateTime>

#include "store/RecordFields.h"
#include "store/TextFolding.h"

namespace orvo {
namespace {

// Deeper nesting and longer chains than any real predicate, well inside the stack and
// SQLite's parser, whose stack overflows at about 45 nested negations.
constexpr int maxDepth = 16;
constexpr int maxTerms = 256;

enum class Token {
    end,
    lparen,
    rparen,
    argument,
    equal,
    notEqual,
    andOp,
    orOp,
    notOp,
    modifier,
    string,
    number,
    word
};

struct Lexeme {
    Token token = Token::end;
    QString text;
    qsizetype position = 0;
};

// One side of a comparison.
struct Operand {
    std::optional<int> field;
    QVariant value; // a null QVariant stands for nil
    QString text;   // as written, for messages
};

class Parser {
public:
    Parser(const QString& source, const QVariantList& arguments)
        : source_(source), arguments_(arguments) {
        advance();
    }

    SqlCondition run() {
        SqlCondition condition;
        Part whole = parseOr(0);
        condition.sql = std::move(whole.sql);
        condition.search = std::move(whole.search);
        if (current_.token != Token::end) {
            fail("unexpected '" + current_.text + "'", current_.position);
        }
        if (nextArgument_ != arguments_.size()) {
            fail(
                QString("%1 arguments given but %2 used").arg(arguments_.size()).arg(nextArgument_),
                source_.size());
        }
        condition.bindings = std::move(bindings_);
        return condition;
    }

private:
    [[noreturn]] void fail(const QString& message, qsizetype position) const {
        throw QueryError("Invalid predicate \"" + source_ + "\": " + message + " at position " +
                         QString::number(position));
    }

    static bool isKeyword(const Lexeme& lexeme, const char* keyword) {
        return lexeme.token == Token::word &&
               lexeme.text.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0;
    }

    void advance() { current_ = lex(); }

    Lexeme lex() {
        while (pos_ < source_.size() && source_[pos_].isSpace()) {
            ++pos_;
        }
        Lexeme lexeme;
        lexeme.position = pos_;
        if (pos_ >= source_.size()) {
            return lexeme;
        }
        const QChar c = source_[pos_];
        const auto next = [this](qsizetype offset) {
            return pos_ + offset < source_.size() ? source_[pos_ + offset] : QChar();
        };
        const auto take = [&](Token token, qsizetype length) {
            lexeme.token = token;
            lexeme.text = source_.mid(pos_, length);
            pos_ += length;
            return lexeme;
        };
        if (c == '(') {
            return take(Token::lparen, 1);
        }
        if (c == ')') {
            return take(Token::rparen, 1);
        }
        if (c == '%' && next(1) == '@') {
            return take(Token::argument, 2);
        }
        if (c == '=') {
            return take(Token::equal, next(1) == '=' ? 2 : 1);
        }
        if (c == '!' && next(1) == '=') {
            return take(Token::notEqual, 2);
        }
        if (c == '<' && next(1) == '>') {
            return take(Token::notEqual, 2);
        }
        if (c == '!') {
            return take(Token::notOp, 1);
        }
        if (c == '&' && next(1) == '&') {
            return take(Token::andOp, 2);
        }
        if (c == '|' && next(1) == '|') {
            return take(Token::orOp, 2);
        }
        if (c == '[') {
            const qsizetype close = source_.indexOf(']', pos_);
            if (close < 0) {
                fail("unclosed '['", pos_);
            }
            return take(Token::modifier, close - pos_ + 1);
        }
        if (c == '\'' || c == '"') {
            return lexString(c);
        }
        if (c.isDigit() || ((c == '-' || c == '.') && next(1).isDigit())) {
            qsizetype end = pos_ + 1;
            while (end < source_.size() && (source_[end].isDigit() || source_[end] == '.' ||
                                            source_[end].toLower() == 'e' ||
                                            ((source_[end] == '-' || source_[end] == '+') &&
                                             source_[end - 1].toLower() == 'e'))) {
                ++end;
            }
            return take(Token::number, end - pos_);
        }
        if (c.isLetter() || c == '_') {
            qsizetype end = pos_ + 1;
            while (end < source_.size() && (source_[end].isLetterOrNumber() ||
                                            source_[end] == '_' || source_[end] == '.')) {
                ++end;
            }
            return take(Token::word, end - pos_);
        }
        fail(QString("unexpected character '%1'").arg(c), pos_);
    }

    Lexeme lexString(QChar quote) {
        Lexeme lexeme;
        lexeme.token = Token::string;
        lexeme.position = pos_;
        QString value;
        for (qsizetype i = pos_ + 1; i < source_.size(); ++i) {
            QChar c = source_[i];
            if (c == quote) {
                pos_ = i + 1;
                lexeme.text = value;
                return lexeme;
            }
            if (c == '\\') {
                if (++i >= source_.size()) {
                    break;
                }
                c = source_[i];
                if (c == 'n') {
                    c = '\n';
                } else if (c == 't') {
                    c = '\t';
                }
            }
            value.append(c);
        }
        fail("unterminated string", lexeme.position);
    }

    // The SQL of a part of the predicate, and the part as a search term when it is one.
    struct Part {
        QString sql;
        std::optional<SearchTerm> search;
    };

    static std::optional<SearchTerm> combined(SearchTerm::Kind kind, const Part& left,
                                              const Part& right) {
        if (!left.search || !right.search) {
            return std::nullopt;
        }
        SearchTerm term;
        term.kind = kind;
        for (const auto& side : {left.search, right.search}) {
            // A chain stays one flat list, as deep as the SQL's nesting is not.
            if (side->kind == kind) {
                term.terms.insert(term.terms.end(), side->terms.begin(), side->terms.end());
            } else {
                term.terms.push_back(*side);
            }
        }
        return term;
    }

    Part parseOr(int depth) {
        std::vector<Part> parts{parseAnd(depth)};
        while (current_.token == Token::orOp || isKeyword(current_, "OR")) {
            advance();
            parts.push_back(parseAnd(depth));
        }
        return chain(SearchTerm::Kind::any, " OR ", parts);
    }

    Part parseAnd(int depth) {
        std::vector<Part> parts{parseNot(depth)};
        while (current_.token == Token::andOp || isKeyword(current_, "AND")) {
            advance();
            parts.push_back(parseNot(depth));
        }
        return chain(SearchTerm::Kind::all, " AND ", parts);
    }

    // One flat list in SQL too: SQLite's parser stack overflows on about a hundred nested
    // parentheses, which a chain of pairs would give.
    static Part chain(SearchTerm::Kind kind, const QString& separator, std::vector<Part>& parts) {
        if (parts.size() == 1) {
            return std::move(parts.front());
        }
        QStringList sql;
        std::optional<SearchTerm> search = parts.front().search;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            sql << parts[i].sql;
            if (i > 0) {
                search = combined(kind, {QString(), search}, parts[i]);
            }
        }
        return {"(" + sql.join(separator) + ")", std::move(search)};
    }

    Part parseNot(int depth) {
        if (depth > maxDepth) {
            fail("nested too deeply", current_.position);
        }
        if (current_.token == Token::notOp || isKeyword(current_, "NOT")) {
            advance();
            Part inner = parseNot(depth + 1);
            std::optional<SearchTerm> search;
            if (inner.search) {
                search = SearchTerm{SearchTerm::Kind::negation, false, {}, {*inner.search}};
            }
            return {"(NOT " + inner.sql + ")", std::move(search)};
        }
        return parsePrimary(depth);
    }

    Part parsePrimary(int depth) {
        if (current_.token == Token::lparen) {
            const qsizetype open = current_.position;
            advance();
            Part inner = parseOr(depth + 1);
            if (current_.token != Token::rparen) {
                fail("'(' is not closed", open);
            }
            advance();
            return inner;
        }
        if (++terms_ > maxTerms) {
            fail(QString("more than %1 terms").arg(maxTerms), current_.position);
        }
        const Lexeme first = current_;
        const Operand left = parseOperand();
        const Lexeme op = current_;
        const bool contains = isKeyword(op, "CONTAINS");
        if (op.token != Token::equal && op.token != Token::notEqual && !contains) {
            if (!left.field && left.value.typeId() == QMetaType::Bool &&
                first.token == Token::word) {
                const bool value = left.value.toBool();
                return {value ? "1" : "0", SearchTerm{SearchTerm::Kind::constant, value, {}, {}}};
            }
            fail("expected a comparison after '" + left.text + "'", op.position);
        }
        advance();
        int options = 0;
        if (current_.token == Token::modifier) {
            if (!contains) {
                fail("modifiers apply to contains only", current_.position);
            }
            options = parseModifier(current_);
            advance();
        }
        const Operand right = parseOperand();
        if (contains) {
            return containsPart(left, right, options, op.position);
        }
        return equalityPart(left, right, op.token == Token::equal, op.position);
    }

    int parseModifier(const Lexeme& lexeme) {
        const QString letters = lexeme.text.mid(1, lexeme.text.size() - 2);
        int options = 0;
        for (const QChar c : letters) {
            if (c == 'c' && (options & searchCaseInsensitive) == 0) {
                options |= searchCaseInsensitive;
            } else if (c == 'd' && (options & searchDiacriticInsensitive) == 0) {
                options |= searchDiacriticInsensitive;
            } else {
                fail("unknown modifier " + lexeme.text, lexeme.position);
            }
        }
        if (options == 0) {
            fail("empty modifier", lexeme.position);
        }
        return options;
    }

    Operand parseOperand() {
        Operand operand;
        operand.text = current_.text;
        const Lexeme lexeme = current_;
        switch (lexeme.token) {
        case Token::argument:
            if (nextArgument_ >= arguments_.size()) {
                fail("more %@ than arguments", lexeme.position);
            }
            operand.value = arguments_[nextArgument_++];
            if (operand.value.typeId() == QMetaType::Nullptr) {
                operand.value = QVariant();
            }
            break;
        case Token::string:
            operand.value = lexeme.text;
            break;
        case Token::number: {
            bool ok = false;
            const qlonglong integer = lexeme.text.toLongLong(&ok);
            if (ok) {
                operand.value = integer;
            } else {
                const double real = lexeme.text.toDouble(&ok);
                if (!ok) {
                    fail("malformed number '" + lexeme.text + "'", lexeme.position);
                }
                operand.value = real;
            }
            break;
        }
        case Token::word:
            if (isKeyword(lexeme, "TRUE") || isKeyword(lexeme, "YES") ||
                isKeyword(lexeme, "TRUEPREDICATE")) {
                operand.value = true;
            } else if (isKeyword(lexeme, "FALSE") || isKeyword(lexeme, "NO") ||
                       isKeyword(lexeme, "FALSEPREDICATE")) {
                operand.value = false;
            } else if (isKeyword(lexeme, "NIL") || isKeyword(lexeme, "NULL")) {
                operand.value = QVariant();
            } else if (isKeyword(lexeme, "AND") || isKeyword(lexeme, "OR") ||
                       isKeyword(lexeme, "NOT") || isKeyword(lexeme, "CONTAINS")) {
                fail("expected a field or a value, found '" + lexeme.text + "'", lexeme.position);
            } else {
                operand.field = recordFieldIndex(lexeme.text);
                if (!operand.field) {
                    fail("unknown field '" + lexeme.text + "'", lexeme.position);
                }
            }
            break;
        case Token::end:
            fail("unexpected end", lexeme.position);
        default:
            fail("expected a field or a value, found '" + lexeme.text + "'", lexeme.position);
        }
        advance();
        return operand;
    }

    static QString column(int field) { return QString("\"%1\"").arg(recordFields[field].name); }

    QString bind(const QVariant& value) {
        bindings_.append(value);
        return "?";
    }

    Part containsPart(const Operand& left, const Operand& right, int options, qsizetype position) {
        if (!left.field || right.field) {
            fail("contains needs a field on its left and a value on its right", position);
        }
        if (!isTextField(*left.field)) {
            fail("contains needs a text field, '" + left.text + "' is not one", position);
        }
        if (right.value.typeId() != QMetaType::QString) {
            fail("contains needs a text value", position);
        }
        if (options == (searchCaseInsensitive | searchDiacriticInsensitive)) {
            return foldedContainsPart(*left.field, right.value.toString());
        }
        return {QString("orvo_contains(%1, %2, %3)")
                    .arg(column(*left.field), bind(right.value))
                    .arg(options),
                std::nullopt};
    }

    // The search of the records window compares the stored folded copy with the needle
    // folded here, once per query, so that no row is folded while searching. NULL on either
    // side matches nothing, as with orvo_contains.
    Part foldedContainsPart(int field, const QString& needle) {
        QString folded;
        if (!needle.isNull()) {
            const QString fold =
                foldForSearch(needle, searchCaseInsensitive | searchDiacriticInsensitive);
            // An empty needle stays a text, which every text contains.
            folded = fold.isNull() ? QString("") : fold;
        }
        std::optional<SearchTerm> search;
        if (field == fieldName || field == fieldRecognizeText) {
            // A null needle is bound as an empty text, as here.
            search = SearchTerm{field == fieldName ? SearchTerm::Kind::nameContains
                                                   : SearchTerm::Kind::recognizeTextContains,
                                false,
                                folded.toStdString(),
                                {}};
        }
        return {QString("orvo_find(\"%1\", %2)").arg(foldedColumnName(field), bind(folded)),
                std::move(search)};
    }

    Part equalityPart(const Operand& left, const Operand& right, bool equal, qsizetype position) {
        if (left.field.has_value() == right.field.has_value()) {
            fail("a comparison needs one field and one value", position);
        }
        const Operand& field = left.field ? left : right;
        const Operand& value = left.field ? right : left;
        const RecordField& info = recordFields[*field.field];
        const int type = value.value.typeId();
        const bool isNumber = type == QMetaType::Int || type == QMetaType::LongLong ||
                              type == QMetaType::Double || type == QMetaType::UInt ||
                              type == QMetaType::ULongLong || type == QMetaType::Float;
        bool fits = false;
        switch (info.kind) {
        case FieldKind::text:
            fits = type == QMetaType::QString;
            break;
        case FieldKind::optionalText:
            fits = type == QMetaType::QString || !value.value.isValid();
            break;
        case FieldKind::boolean:
            fits = type == QMetaType::Bool;
            break;
        case FieldKind::integer:
        case FieldKind::real:
            fits = isNumber;
            break;
        case FieldKind::date:
            fits = type == QMetaType::QDateTime && value.value.toDateTime().isValid();
            break;
        }
        if (!fits) {
            fail(QString("'%1' cannot be compared with '%2'").arg(field.text, value.text),
                 position);
        }
        std::optional<SearchTerm> search;
        if (*field.field == fieldFavorite) {
            search = SearchTerm{SearchTerm::Kind::favorite, value.value.toBool() == equal, {}, {}};
        }
        return {QString("(%1 %2 %3)")
                    .arg(column(*field.field), equal ? "IS" : "IS NOT", bind(value.value)),
                std::move(search)};
    }

    const QString& source_;
    const QVariantList& arguments_;
    qsizetype pos_ = 0;
    Lexeme current_;
    qsizetype nextArgument_ = 0;
    int terms_ = 0;
    QVariantList bindings_;
};

} // namespace

std::optional<SearchTerm> bothTerms(const std::optional<SearchTerm>& first,
                                    const std::optional<SearchTerm>& second) {
    if (!first || !second) {
        return std::nullopt;
    }
    return SearchTerm{SearchTerm::Kind::all, false, {}, {*first, *second}};
}

SqlCondition compilePredicate(const QString& predicate, const QVariantList& arguments) {
    return Parser(predicate, arguments).run();
}

} // namespace orvo
