#include "store/Predicate.h"

#include <random>

#include <QTemporaryDir>

#include "store/TextFolding.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::makeRecord;
using test::namesOf;

TEST(TextFolding, CaseAndDiacriticsAreIgnoredOnlyAsAsked) {
    const int cd = searchCaseInsensitive | searchDiacriticInsensitive;
    EXPECT_TRUE(searchContains("Meeting über plans", "uber", cd));
    EXPECT_TRUE(searchContains("Meeting uber plans", "ÜBER", cd));
    EXPECT_TRUE(searchContains(QString::fromUtf8("U\xcc\x88"
                                                 "ber"),
                               "über", searchCaseInsensitive));
    EXPECT_TRUE(searchContains("Über", "Uber", searchDiacriticInsensitive));
    EXPECT_FALSE(searchContains("Über", "uber", searchDiacriticInsensitive));
    EXPECT_FALSE(searchContains("Über", "uber", searchCaseInsensitive));
    EXPECT_FALSE(searchContains("Über", "uber", 0));
    EXPECT_TRUE(searchContains("ΆΝΘΡΩΠΟΣ", "ανθρωπος", cd));
    EXPECT_TRUE(searchContains("anything", "", cd));
    // J and a caron fold to j and a caron, which compose to U+01F0: folded once is folded.
    const QString jCaron = QString::fromUtf8("J\xcc\x8c");
    const QString folded = foldForSearch(jCaron, searchCaseInsensitive);
    EXPECT_EQ(folded, QString(QChar(0x01F0)));
    EXPECT_EQ(foldForSearch(folded, searchCaseInsensitive), folded);
    EXPECT_TRUE(searchContains(jCaron, QString(QChar(0x01F0)), searchCaseInsensitive));
}

// Qt's folding of whole strings, as the reference for the search inside SQLite.
QString referenceFold(const QString& text, bool ignoreCase, bool ignoreDiacritics) {
    QString folded;
    if (ignoreDiacritics) {
        for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
            if (c.category() != QChar::Mark_NonSpacing) {
                folded += c;
            }
        }
    } else {
        folded = text.normalized(QString::NormalizationForm_C);
    }
    if (!ignoreCase) {
        return folded;
    }
    return ignoreDiacritics ? folded.toCaseFolded()
                            : folded.toCaseFolded().normalized(QString::NormalizationForm_C);
}

TEST(TextFolding, SearchInsideSqliteAgreesWithQtsFoldingOfWholeStrings) {
    QTemporaryDir folder;
    Realm store({folder.filePath("records.realm"), 1});
    const QStringList texts{
        "Привет, Jörg!", "JÖRG",        "jorg",     "Ångström 10 Å", "naïve café",
        "NAIVE CAFE",    "x\u0301y",    "ß Straße", "ǅemal",         "한국어 통화",
        "Ελληνικά",      "plain ascii", "",         "😀 smile"};
    ASSERT_TRUE(store.write([&] {
        for (const QString& text : texts) {
            store.add(std::make_shared<RealmRecordModel>(text, "", "f", QDateTime(), 0,
                                                         RecordType::audio, std::nullopt, 0));
        }
    }));
    const QStringList needles{"jorg", "JÖRG", "т, j", "angstrom", "Å", "cafe", "É", "xy", "ss",
                              "ß",    "dž",   "국어", "ελλ",      "",  "😀",    "!", "x"};
    for (const char* modifier : {"", "[c]", "[d]", "[cd]"}) {
        const bool c = QString(modifier).contains('c');
        const bool d = QString(modifier).contains('d');
        for (const QString& needle : needles) {
            QStringList expected;
            for (const QString& text : texts) {
                if (referenceFold(text, c, d).contains(referenceFold(needle, c, d))) {
                    expected << text;
                }
            }
            const Results found =
                store.objects().filter(QString("name contains%1 %@").arg(modifier), {needle});
            EXPECT_EQ(namesOf(found), expected)
                << "contains" << modifier << " " << needle.toStdString();
        }
    }
}

class PredicateTest : public test::RealmFileTest {
protected:
    void SetUp() override {
        RealmFileTest::SetUp();
        auto john = makeRecord("Call with JOHN", 10);
        auto anna = makeRecord("Anna", 20, RecordType::video);
        auto note = makeRecord("Notes only", 30);
        auto empty = makeRecord("", 40);
        ASSERT_TRUE(store->write([&] {
            for (const auto& record : {john, anna, note, empty}) {
                store->add(record);
            }
            anna->setRecognizeText("Jöhn said hello");
            anna->setFavorite(true);
            anna->setSocialIM(QString("Skype"));
            anna->setDesigneID(3);
            note->setNote("john");
            empty->setDuration(2.5);
            john->setDesigneID(0);
            note->setDesigneID(1);
            empty->setDesigneID(2);
        }));
    }
    QStringList query(const QString& predicate, const QVariantList& arguments = {}) {
        return namesOf(store->objects().filter(predicate, arguments).sorted("time"));
    }
};

TEST_F(PredicateTest, ComparisonsOperatorsAndLiterals) {
    EXPECT_EQ(query("typeRecord == 'Video'"), QStringList{"Anna"});
    EXPECT_EQ(query("typeRecord != \"Video\" && duration == 1"),
              (QStringList{"Call with JOHN", "Notes only"}));
    EXPECT_EQ(query("duration = 2.5 OR designeID <> %@", {3}),
              (QStringList{"Call with JOHN", "Notes only", ""}));
    EXPECT_EQ(query("NOT favorite == YES and ! (name contains 'n')"),
              (QStringList{"Call with JOHN", ""}));
    EXPECT_EQ(query("socialIM == nil"), (QStringList{"Call with JOHN", "Notes only", ""}));
    EXPECT_EQ(query("socialIM != NULL"), QStringList{"Anna"});
    EXPECT_EQ(query("socialIM == %@", {QVariant()}).size(), 3);
    EXPECT_EQ(query("socialIM != 'Skype'").size(), 3);
    EXPECT_EQ(query("'Anna' == name"), QStringList{"Anna"});
    EXPECT_EQ(query("name contains[c] 'JOHN' AND name contains 'JOHN'"),
              QStringList{"Call with JOHN"});
    EXPECT_EQ(query("name contains 'john'"), QStringList{});
    EXPECT_EQ(query("recognizeText contains[d] 'John'"), QStringList{"Anna"});
    EXPECT_EQ(query("time == %@", {QDateTime(QDate(2024, 5, 1), QTime(10, 20))}),
              QStringList{"Anna"});
    EXPECT_EQ(query("name == 'it\\'s'"), QStringList{});
    EXPECT_EQ(query("TRUEPREDICATE").size(), 4);
    EXPECT_EQ(query("false OR (true)").size(), 4);
    EXPECT_EQ(query("false"), QStringList{});
    // Notes are not searched by the program's predicate, but are a field like any other.
    EXPECT_EQ(query("note contains[cd] 'JOHN'"), QStringList{"Notes only"});
}

TEST_F(PredicateTest, MalformedPredicatesAreClearErrorsAtCreation) {
    const std::vector<std::pair<QString, QString>> cases{
        {"", "unexpected end"},
        {"nmae == 'x'", "unknown field 'nmae'"},
        {"name.first == 'x'", "unknown field"},
        {"name == ", "unexpected end"},
        {"name == 'x", "unterminated string"},
        {"(name == 'x'", "'(' is not closed"},
        {"name == 'x')", "unexpected ')'"},
        {"name contains[x] 'a'", "unknown modifier"},
        {"name contains[] 'a'", "empty modifier"},
        {"name contains[cd 'a'", "unclosed '['"},
        {"name ==[c] 'a'", "modifiers apply to contains only"},
        {"favorite contains 'a'", "contains needs a text field"},
        {"name contains 3", "contains needs a text value"},
        {"'a' contains name", "contains needs a field on its left"},
        {"favorite == 'yes'", "cannot be compared"},
        {"duration == true", "cannot be compared"},
        {"name == nil", "cannot be compared"},
        {"time == 5", "cannot be compared"},
        {"name == fileName", "one field and one value"},
        {"1 == 1", "one field and one value"},
        {"name", "expected a comparison"},
        {"name == 'a' AND", "unexpected end"},
        {"name == 'a' 'b'", "unexpected 'b'"},
        {"name == %@", "more %@ than arguments"},
        {"name < 'a'", "unexpected character '<'"},
        {"AND name == 'a'", "expected a field or a value"},
        {QString(200, '(') + "true" + QString(200, ')'), "nested too deeply"},
        {QString("NOT ").repeated(100) + "true", "nested too deeply"},
        {"name == '" + QString(QChar(0)) + "' AND " + QString(20, '!') + "true",
         "nested too deeply"},
        {QString("name == '%1' OR ").repeated(300) + "true", "more than 256 terms"},
    };
    for (const auto& [predicate, message] : cases) {
        try {
            store->objects().filter(predicate);
            ADD_FAILURE() << "accepted: " << predicate.toStdString();
        } catch (const QueryError& error) {
            EXPECT_TRUE(error.message().contains(message))
                << predicate.toStdString() << " -> " << error.what();
        }
    }
    EXPECT_THROW(store->objects().filter("name == %@", {"a", "b"}), QueryError);
    EXPECT_THROW(store->objects().sorted("missing"), QueryError);
}

// A random predicate of the grammar, with placeholders drawn from arguments.
QString randomPredicate(std::mt19937& random, int depth, int& placeholders) {
    const auto pick = [&random](const QStringList& list) {
        return list[int(random() % list.size())];
    };
    switch (depth > 3 ? 0 : random() % 5) {
    case 1:
        return "(" + randomPredicate(random, depth + 1, placeholders) + ")";
    case 2:
        return pick({"NOT ", "!", "not "}) + randomPredicate(random, depth + 1, placeholders);
    case 3:
        return randomPredicate(random, depth + 1, placeholders) +
               pick({" AND ", " && ", " OR ", " || ", " and "}) +
               randomPredicate(random, depth + 1, placeholders);
    default:
        break;
    }
    if (random() % 6 == 0) {
        return pick({"true", "false", "TRUEPREDICATE"});
    }
    const QString field = pick({"name", "recognizeText", "note", "socialIM", "favorite", "duration",
                                "designeID", "time", "typeRecord"});
    const QString op =
        pick({"==", "!=", "=", "<>", "contains", "contains[cd]", "contains[c]", "contains[d]"});
    QString value = pick({"'john'", "\"Über\"", "%@", "true", "3", "-2.5", "nil", "''"});
    if (value == "%@") {
        ++placeholders;
    }
    return field + " " + op + " " + value;
}

// Random predicates, some garbled by a few character edits, with random arguments: every
// one either builds a result that can be read or fails with a QueryError; nothing else
// escapes and nothing crashes.
TEST_F(PredicateTest, FuzzedPredicatesGiveAResultOrAClearError) {
    const QString noise = "()[]'\"\\%@!=<>&|.-#é\u0308\u00a0 abcdNOT1";
    const QVariantList argumentPool{QVariant(),
                                    QVariant("john"),
                                    QVariant(true),
                                    QVariant(3),
                                    QVariant(2.5),
                                    QVariant(QDateTime(QDate(2024, 5, 1), QTime(10, 0))),
                                    QVariant(QStringList{"x"}),
                                    QVariant(QString())};
    std::mt19937 random(20240501);
    int built = 0;
    int refused = 0;
    for (int round = 0; round < 4000; ++round) {
        int placeholders = 0;
        QString predicate = randomPredicate(random, 0, placeholders);
        for (int edits = round % 2 == 0 ? 0 : int(random() % 3) + 1; edits > 0; --edits) {
            const qsizetype at = qsizetype(random() % (predicate.size() + 1));
            switch (random() % 3) {
            case 0:
                predicate.remove(at, 1);
                break;
            case 1:
                predicate.insert(at, noise[int(random() % noise.size())]);
                break;
            default:
                predicate.insert(at, QChar(char16_t(random() % 0x2ff + 1)));
                break;
            }
        }
        QVariantList arguments;
        const int count = random() % 4 == 0 ? int(random() % 3) : placeholders;
        for (int i = 0; i < count; ++i) {
            arguments << argumentPool[int(random() % argumentPool.size())];
        }
        try {
            const Results results = store->objects().filter(predicate, arguments).sorted("name");
            ASSERT_GE(results.size(), 0);
            ASSERT_LE(results.size(), 4);
            ++built;
        } catch (const QueryError& error) {
            ASSERT_FALSE(error.message().isEmpty());
            ++refused;
        }
    }
    EXPECT_GT(built, 200);
    EXPECT_GT(refused, 200);
}

} // namespace
} // namespace orvo
