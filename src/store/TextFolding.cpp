#include "store/TextFolding.h"

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QByteArray>
#include <QStringDecoder>
#include <QStringView>
#include <sqlite3.h>

namespace orvo {
namespace {

bool isAscii(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

char16_t asciiLower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? char16_t(c - 'A' + 'a') : char16_t(c);
}

// ASCII text needs neither normalisation nor marks removed, and folds its case bytewise.
bool asciiContains(std::string_view text, std::string_view foldedNeedle, bool ignoreCase) {
    if (!ignoreCase) {
        return text.find(foldedNeedle) != std::string_view::npos;
    }
    if (foldedNeedle.size() > text.size()) {
        return false;
    }
    const std::size_t last = text.size() - foldedNeedle.size();
    for (std::size_t i = 0; i <= last; ++i) {
        std::size_t j = 0;
        while (j < foldedNeedle.size() &&
               asciiLower(static_cast<unsigned char>(text[i + j])) == char16_t(foldedNeedle[j])) {
            ++j;
        }
        if (j == foldedNeedle.size()) {
            return true;
        }
    }
    return false;
}

// Qt's whole-string folding: decomposition without non-spacing marks, or composition;
// then case folding, composed again.
QString foldWithQt(const QString& text, int options) {
    QString result;
    if ((options & searchDiacriticInsensitive) != 0) {
        const QString decomposed = text.normalized(QString::NormalizationForm_D);
        result.reserve(decomposed.size());
        for (const QChar c : decomposed) {
            if (c.category() != QChar::Mark_NonSpacing) {
                result.append(c);
            }
        }
    } else {
        result = text.normalized(QString::NormalizationForm_C);
    }
    if ((options & searchCaseInsensitive) == 0) {
        return result;
    }
    result = result.toCaseFolded();
    if ((options & searchDiacriticInsensitive) == 0) {
        // Folded letters can compose anew: J and a caron fold to j and a caron, which compose
        // to U+01F0, whose simple fold is itself. Composed again until nothing changes, so
        // that folding twice is folding once.
        QString next = result.normalized(QString::NormalizationForm_C);
        for (int round = 0; round < 4 && next != result; ++round) {
            result = std::move(next);
            next = result.toCaseFolded().normalized(QString::NormalizationForm_C);
        }
    }
    return result;
}

// A folded UTF-16 unit as written out: itself, or as one byte for a search of an ASCII
// needle, where every other unit becomes 0x80, a byte that no ASCII needle contains, so
// that matches stay exactly the same.
template <typename Unit> Unit toUnit(char16_t unit) {
    if constexpr (sizeof(Unit) == 1) {
        return Unit(unit < 0x80 ? unit : 0x80);
    } else {
        return unit;
    }
}

// Without diacritics, a text folds character by character (dropping the marks makes the
// reordering of decomposition irrelevant), so the fold of each character of the Basic
// Multilingual Plane is computed once with Qt and remembered. The search runs on the main
// thread; the table is per thread so that no lock is needed.
class CharacterFolds {
public:
    explicit CharacterFolds(bool ignoreCase) : ignoreCase_(ignoreCase), table_(0x10000, 0) {}

    // Writes the fold of code at out[at], growing out when a fold is longer than its
    // UTF-8 bytes; returns the position after it.
    template <typename Unit>
    std::size_t write(char32_t code, std::vector<Unit>& out, std::size_t at) {
        if (code >= 0x10000) {
            return place(compute(code), out, at);
        }
        std::uint32_t& entry = table_[code];
        if (entry == 0) {
            const std::u16string fold = compute(code);
            if (fold.empty()) {
                entry = emptyFold;
            } else if (fold.size() == 1) {
                entry = singleFold | fold[0];
            } else {
                entry = longFold | std::uint32_t(longFolds_.size());
                longFolds_.push_back(fold);
            }
        }
        switch (entry & kindMask) {
        case singleFold:
            out[at] = toUnit<Unit>(char16_t(entry & 0xffff));
            return at + 1;
        case longFold:
            return place(longFolds_[entry & 0xffff], out, at);
        default:
            return at;
        }
    }

private:
    static constexpr std::uint32_t emptyFold = 1u << 16;
    static constexpr std::uint32_t singleFold = 2u << 16;
    static constexpr std::uint32_t longFold = 3u << 16;
    static constexpr std::uint32_t kindMask = 0xffu << 16;

    std::u16string compute(char32_t code) const {
        const QString fold =
            foldWithQt(QString::fromUcs4(&code, 1),
                       searchDiacriticInsensitive | (ignoreCase_ ? searchCaseInsensitive : 0));
        return fold.toStdU16String();
    }

    template <typename Unit>
    static std::size_t place(const std::u16string& fold, std::vector<Unit>& out, std::size_t at) {
        if (at + fold.size() > out.size()) {
            out.resize(out.size() + fold.size() + 16);
        }
        for (const char16_t unit : fold) {
            out[at++] = toUnit<Unit>(unit);
        }
        return at;
    }

    bool ignoreCase_;
    std::vector<std::uint32_t> table_;
    std::vector<std::u16string> longFolds_;
};

// Folds UTF-8 text without diacritics into the start of out and returns its length;
// malformed bytes become U+FFFD. A character takes no more UTF-16 units than UTF-8 bytes
// unless its fold is long, so out is sized by the bytes and grows only then; it never
// shrinks, so that a reused buffer costs nothing.
template <typename Unit>
std::size_t foldUtf8WithoutDiacritics(std::string_view text, bool ignoreCase,
                                      std::vector<Unit>& out) {
    thread_local CharacterFolds caseFolds(true);
    thread_local CharacterFolds exactFolds(false);
    CharacterFolds& folds = ignoreCase ? caseFolds : exactFolds;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    // Room for the rest of the text is kept ahead of w, so the ASCII runs need no checks.
    const auto reserveRest = [&](std::size_t w, std::size_t i) {
        if (out.size() < w + (size - i) + 2) {
            out.resize(w + (size - i) + 16);
        }
    };
    std::size_t w = 0;
    std::size_t i = 0;
    reserveRest(w, i);
    while (i < size) {
        // Through a local pointer: the compiler cannot keep out's buffer in a register.
        Unit* const target = out.data();
        if (ignoreCase) {
            while (i < size && bytes[i] < 0x80) {
                target[w++] = Unit(asciiLower(bytes[i++]));
            }
        } else {
            while (i < size && bytes[i] < 0x80) {
                target[w++] = Unit(bytes[i++]);
            }
        }
        if (i >= size) {
            break;
        }
        const unsigned char lead = bytes[i];
        std::size_t length = 1;
        char32_t code = 0xfffd;
        if ((lead & 0xe0) == 0xc0) {
            length = 2;
            code = lead & 0x1f;
        } else if ((lead & 0xf0) == 0xe0) {
            length = 3;
            code = lead & 0x0f;
        } else if ((lead & 0xf8) == 0xf0) {
            length = 4;
            code = lead & 0x07;
        }
        if (length == 1 || i + length > size) {
            code = 0xfffd;
            length = 1;
        } else {
            for (std::size_t k = 1; k < length; ++k) {
                if ((bytes[i + k] & 0xc0) != 0x80) {
                    code = 0xfffd;
                    length = 1;
                    break;
                }
                code = (code << 6) | (bytes[i + k] & 0x3f);
            }
        }
        w = folds.write(code, out, w);
        i += length;
        if (w > i) {
            reserveRest(w, i);
        }
    }
    return w;
}

std::u16string fold(std::string_view utf8, int options) {
    std::u16string out;
    if ((options & searchDiacriticInsensitive) != 0) {
        std::vector<char16_t> buffer;
        const std::size_t length =
            foldUtf8WithoutDiacritics(utf8, (options & searchCaseInsensitive) != 0, buffer);
        out.assign(buffer.data(), length);
    } else {
        // A leading U+FEFF is text here, as anywhere else, not a byte order mark to skip.
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                        QStringDecoder::Flag::ConvertInitialBom);
        const QString text = decode(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
        out = foldWithQt(text, options).toStdU16String();
    }
    return out;
}

// The needle of one statement, folded once and kept as SQLite auxiliary data.
struct FoldedNeedle {
    std::u16string folded;
    std::string ascii; // the folded needle when it is ASCII, else empty
    bool isAscii = false;
};

void deleteNeedle(void* needle) {
    std::unique_ptr<FoldedNeedle> owned(static_cast<FoldedNeedle*>(needle));
}

std::string_view textArgument(sqlite3_value* value) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(value));
    return {data, std::size_t(sqlite3_value_bytes(value))};
}

void containsFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL ||
        sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const int options = sqlite3_value_int(arguments[2]);
    auto* needle = static_cast<FoldedNeedle*>(sqlite3_get_auxdata(context, 1));
    if (needle == nullptr) {
        auto made = std::make_unique<FoldedNeedle>();
        made->folded = fold(textArgument(arguments[1]), options);
        made->isAscii = true;
        for (const char16_t c : made->folded) {
            made->isAscii = made->isAscii && c < 0x80;
            made->ascii.push_back(char(c));
        }
        needle = made.get();
        // SQLite owns the needle from here on, also when it drops it at once.
        sqlite3_set_auxdata(context, 1, made.release(), deleteNeedle);
    }
    const std::string_view text = textArgument(arguments[0]);
    const bool ignoreCase = (options & searchCaseInsensitive) != 0;
    bool found = false;
    if ((options & searchDiacriticInsensitive) != 0) {
        if (needle->isAscii) {
            thread_local std::vector<char> bytes;
            const std::size_t length = foldUtf8WithoutDiacritics(text, ignoreCase, bytes);
            found = std::string_view(bytes.data(), length).find(needle->ascii) !=
                    std::string_view::npos;
        } else {
            thread_local std::vector<char16_t> units;
            const std::size_t length = foldUtf8WithoutDiacritics(text, ignoreCase, units);
            found = std::u16string_view(units.data(), length).find(needle->folded) !=
                    std::u16string_view::npos;
        }
    } else if (needle->isAscii && isAscii(text)) {
        found = asciiContains(text, needle->ascii, ignoreCase);
    } else {
        found = fold(text, options).find(needle->folded) != std::u16string::npos;
    }
    sqlite3_result_int(context, found ? 1 : 0);
}

void foldFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    thread_local std::vector<char16_t> units;
    const std::size_t length = foldUtf8WithoutDiacritics(textArgument(arguments[0]), true, units);
    // As UTF-8: SQLite reads UTF-16 that begins with U+FFFE or U+FEFF as a byte order mark.
    const QByteArray bytes = QStringView(units.data(), qsizetype(length)).toUtf8();
    sqlite3_result_text(context, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT);
}

// SQLite's instr compares at every character with a call of its own; a search of folded text
// needs only whether the bytes occur, which memchr-driven finding answers many times faster.
void findFunction(sqlite3_context* context, int, sqlite3_value** arguments) {
    if (sqlite3_value_type(arguments[0]) == SQLITE_NULL ||
        sqlite3_value_type(arguments[1]) == SQLITE_NULL) {
        sqlite3_result_int(context, 0);
        return;
    }
    const std::string_view text = textArgument(arguments[0]);
    const std::string_view needle = textArgument(arguments[1]);
    sqlite3_result_int(context, text.find(needle) != std::string_view::npos ? 1 : 0);
}

} // namespace

QString foldForSearch(const QString& text, int options) {
    const QByteArray utf8 = text.toUtf8();
    const std::u16string folded = fold(std::string_view(utf8.constData(), utf8.size()), options);
    // Copied as units: QString::fromUtf16 would read a leading U+FEFF or U+FFFE as a byte
    // order mark, drop it and byte-swap the rest.
    return QString(reinterpret_cast<const QChar*>(folded.data()), qsizetype(folded.size()));
}

bool searchContains(const QString& text, const QString& needle, int options) {
    return foldForSearch(text, options).contains(foldForSearch(needle, options));
}

int registerSearchFunctions(sqlite3* db) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    const int rc = sqlite3_create_function_v2(db, "orvo_contains", 3, flags, nullptr,
                                              containsFunction, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        return rc;
    }
    const int foldRc = sqlite3_create_function_v2(db, "orvo_fold", 1, flags, nullptr, foldFunction,
                                                  nullptr, nullptr, nullptr);
    if (foldRc != SQLITE_OK) {
        return foldRc;
    }
    return sqlite3_create_function_v2(db, "orvo_find", 2, flags, nullptr, findFunction, nullptr,
                                      nullptr, nullptr);
}

} // namespace orvo
