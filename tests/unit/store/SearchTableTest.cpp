#include "store/SearchTable.h"

#include <random>
#include <stdexcept>

#include "store/Predicate.h"
#include "unit/store/StoreTestSupport.h"

namespace orvo {
namespace {

using test::makeRecord;

const QString search = "name contains[cd] %@ || recognizeText contains[cd] %@";
const QString favoriteSearch = "favorite == true AND (" + search + ")";
const QString nul(QChar(0));

TEST(SearchTerms, OnlyFoldedSearchesOfNameAndTranscriptAndFavouritesAreTerms) {
    for (const QString& predicate :
         {search, favoriteSearch, QString("favorite == true"), QString("favorite != NO"),
          QString("NOT (name contains[cd] %@) OR TRUEPREDICATE")}) {
        const QVariantList arguments(predicate.count("%@"), "x");
        EXPECT_TRUE(compilePredicate(predicate, arguments).search.has_value())
            << predicate.toStdString();
    }
    for (const QString& predicate :
         {QString("name contains[c] 'x'"), QString("recognizeText contains[d] 'x'"),
          QString("name contains 'x'"), QString("note contains[cd] 'x'"), QString("name == 'x'"),
          QString(search + " OR fileName == 'x'")}) {
        const QVariantList arguments(predicate.count("%@"), "x");
        EXPECT_FALSE(compilePredicate(predicate, arguments).search.has_value())
            << predicate.toStdString();
    }
}

// A catalogue of random records, changed by random writes, some rolled back, searched after
// each one with the window's predicates from memory and through SQL.
class SearchAgreementTest : public test::RealmFileTest {
protected:
    QString pick(const QStringList& choices) { return choices[int(random() % choices.size())]; }

    QString randomText(int maxWords) {
        static const QStringList words{
            "",     "Jörg", "JORG", "jörg",       "Ærø",    "Привет",  "ПРИВЕТ",
            "ёлка", "Елка", "café", "CAFE\u0301", "Straße", "STRASSE", "İstanbul",
            "call", "Call", "a",    "Anna",       " ",      "\"a\" b", nul + "a"};
        QStringList text;
        for (int i = int(random() % (maxWords + 1)); i > 0; --i) {
            text << pick(words);
        }
        return text.join(random() % 3 == 0 ? "" : " ");
    }

    std::shared_ptr<RealmRecordModel> randomRecord() {
        // Few minutes, so that many records share their time.
        auto record = makeRecord(randomText(3), int(random() % 40));
        record->setRecognizeText(randomText(6));
        record->setFavorite(random() % 3 == 0);
        return record;
    }

    void randomChange() {
        auto& record = records[random() % records.size()];
        switch (random() % 6) {
        case 0:
            record->setName(randomText(3));
            break;
        case 1:
            record->setRecognizeText(randomText(6));
            break;
        case 2:
            record->setFavorite(!record->favorite());
            break;
        case 3:
            record->setTime(record->time().addSecs(60 * qint64(random() % 7) - 180));
            break;
        case 4:
            store->remove(record);
            std::swap(record, records.back());
            records.pop_back();
            break;
        default:
            records.push_back(randomRecord());
            store->add(records.back());
        }
    }

    // The result as the window asks it (no predicate: every record), and through SQL: the
    // appended term always holds but is no search term.
    void expectAgreement(const QString& predicate, const QVariantList& arguments) {
        const Results all = store->objects();
        const QString never = "fileName != %@";
        const QVariantList sqlArguments = QVariantList(arguments) << "\u0001";
        const Results fromMemory =
            (predicate.isEmpty() ? all : all.filter(predicate, arguments)).sorted("time", false);
        const Results fromSql =
            all.filter(predicate.isEmpty() ? never : "(" + predicate + ") AND " + never,
                       sqlArguments)
                .sorted("time", false);
        ASSERT_EQ(fromMemory.size(), fromSql.size()) << predicate.toStdString();
        for (int i = 0; i < fromSql.size(); ++i) {
            ASSERT_EQ(fromMemory.at(i), fromSql.at(i)) << predicate.toStdString() << " " << i;
        }
    }

    void expectEverySearchAgrees() {
        expectAgreement("", {});
        expectAgreement("favorite == true", {});
        expectAgreement("NOT favorite == true OR name contains[cd] %@", {"a"});
        for (const QString& needle :
             {QString(),          QString(""),       QString("j"),    QString("jö"),
              QString("JÖR"),     QString("ø"),      QString("O"),    QString("е"),
              QString("ПРИ"),     QString("cafe"),   QString("é"),    QString("ss"),
              QString("ß"),       QString("i"),      QString(" "),    QString("\u0301"),
              QString("nowhere"), QString("\""),     QString("a\" "), nul,
              nul + "a",          QString("anna ca")}) {
            expectAgreement(search, {needle, needle});
            expectAgreement(favoriteSearch, {needle, needle});
        }
    }

    std::mt19937 random{20240501};
    std::vector<std::shared_ptr<RealmRecordModel>> records;
};

TEST_F(SearchAgreementTest, MemoryAndSqlAgreeThroughCommittedAndRolledBackWrites) {
    ASSERT_TRUE(store->write([&] {
        for (int i = 0; i < 300; ++i) {
            records.push_back(randomRecord());
            store->add(records.back());
        }
    }));
    expectEverySearchAgrees();
    for (int round = 0; round < 12; ++round) {
        const bool rollBack = round % 3 == 2;
        const auto before = records;
        const auto write = [&] {
            for (int i = 0; i < 1 + round * 3; ++i) {
                randomChange();
            }
            // Inside the write, a search sees its rows as SQL does.
            expectEverySearchAgrees();
            if (rollBack) {
                throw std::runtime_error("roll back");
            }
        };
        if (rollBack) {
            EXPECT_THROW(store->write(write), std::runtime_error);
            records = before;
        } else {
            ASSERT_TRUE(store->write(write));
        }
        expectEverySearchAgrees();
    }
}

} // namespace
} // namespace orvo
