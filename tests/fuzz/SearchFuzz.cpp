// Search text of any bytes, taken as a predicate with arguments of several kinds: it is
// refused with the predicate's own error or accepted; an accepted predicate runs on the real
// table, and the in-memory search and the SQL scan give the same records, in the same order.
#include <cstdint>
#include <memory>
#include <optional>
#include <random>

#include <QDateTime>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "store/Predicate.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"

namespace {

using orvo::fuzz::check;

// A catalogue of a few dozen records whose names and transcripts mix case, accents and
// scripts, made once.
class Catalogue {
public:
    Catalogue() : store(orvo::RealmConfiguration{folder.filePath("records.realm"), 1}) {
        check(folder.isValid(), "a temporary folder");
        std::mt19937 random(7);
        const QStringList words{"",     "Jörg",       "JORG",   "Привет",  "ёлка",
                                "café", "CAFE\u0301", "Straße", "STRASSE", "İstanbul",
                                "call", "a'b",        "%"};
        const auto text = [&](int most) {
            QStringList picked;
            for (int i = int(random() % (most + 1)); i > 0; --i) {
                picked << words[int(random() % words.size())];
            }
            return picked.join(' ');
        };
        check(store.write([&] {
            for (int i = 0; i < 40; ++i) {
                const QDateTime time(QDate(2024, 5, 1), QTime(10, 0).addSecs(60 * (i % 9)));
                auto record = std::make_shared<orvo::RealmRecordModel>(
                    text(3), text(1), QString("r%1.m4a").arg(i), time, double(i % 5),
                    i % 3 == 0 ? orvo::RecordType::video : orvo::RecordType::audio, std::nullopt,
                    0.5);
                record->setRecognizeText(text(6));
                record->setFavorite(i % 4 == 0);
                store.add(record);
            }
        }),
              "the catalogue is written");
    }
    QTemporaryDir folder;
    orvo::Realm store;
};

// One argument for every %@, of the kinds a caller passes.
QVariantList argumentsFor(const QString& predicate) {
    const QVariantList kinds{"jö", true, 3, QVariant(), QString(), "ПРИ", 2.5, "'"};
    QVariantList arguments;
    for (qsizetype at = predicate.indexOf("%@"); at >= 0; at = predicate.indexOf("%@", at + 2)) {
        arguments << kinds[arguments.size() % kinds.size()];
    }
    return arguments;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvo::fuzz::ensureApplication();
    static Catalogue catalogue;
    const QString predicate =
        QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QVariantList arguments = argumentsFor(predicate);
    try {
        orvo::compilePredicate(predicate, arguments);
    } catch (const orvo::QueryError&) {
        return 0;
    }
    const orvo::Results all = catalogue.store.objects();
    const orvo::Results found = all.filter(predicate, arguments).sorted("time", false);
    // The appended condition always holds but is no search term: the scan answers. The
    // parentheses are one level more, which a predicate at the limit does not have left.
    std::optional<orvo::Results> wrapped;
    try {
        wrapped = all.filter("(" + predicate + ") AND fileName != %@", QVariantList(arguments)
                                                                           << "\u0001");
    } catch (const orvo::QueryError& error) {
        check(error.message().contains("nested too deeply"), "only the depth refuses it");
        return 0;
    }
    const orvo::Results scanned = wrapped->sorted("time", false);
    check(found.size() == scanned.size(), "memory and SQL find as many records");
    for (int i = 0; i < found.size(); ++i) {
        check(found.at(i) == scanned.at(i), "memory and SQL find the same records");
    }
    return 0;
}
