// A catalogue file of any bytes: it opens as it is, or is set aside with every byte kept and
// a fresh catalogue takes its place; either way searches and writes work afterwards.
#include <cstdint>
#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "FuzzCheck.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"

namespace {

using orvo::fuzz::check;

QByteArray contentsOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One folder for every run, emptied after each: one made and removed per run cost a twentieth
// of the run.
const QDir& runFolder() {
    static QTemporaryDir made(orvo::fuzz::scratchRoot() + "/fuzz-catalogue-XXXXXX");
    check(made.isValid(), "a folder for the runs");
    static const QDir folder(made.path());
    return folder;
}

void checkCatalogue(const QDir& folder, const QByteArray& bytes) {
    const QString path = folder.filePath("records.realm");
    {
        QFile file(path);
        check(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(),
              "the file is written");
    }
    orvo::Realm store(orvo::RealmConfiguration{path, 1});
    // Without name filters: QDir compiles a pattern for them on every listing.
    for (const QString& file : folder.entryList(QDir::Files)) {
        if (file.startsWith("records.realm.unreadable-") && !file.endsWith("-journal")) {
            check(contentsOf(folder.filePath(file)) == bytes, "a file set aside keeps every byte");
        }
    }

    const orvo::Results all = store.objects();
    const int before = all.size();
    const QString search = "name contains[cd] %@ || recognizeText contains[cd] %@";
    const int found = all.filter(search, {"a", "a"}).size();
    const int scanned =
        all.filter("(" + search + ") AND fileName != %@", {"a", "a", "\u0001"}).size();
    // A file that came with an index may carry one altered into other valid data, which misses
    // rows without an error: only an index made here from the texts must agree with the scan.
    const bool indexMadeHere = !bytes.contains("RecordTextRuns");
    check(!indexMadeHere || found == scanned, "memory and SQL find as many records");
    check(found <= before && scanned <= before, "a search finds only stored records");
    auto record = std::make_shared<orvo::RealmRecordModel>(
        "Anna", "", "fuzz.m4a", QDateTime(QDate(2024, 5, 1), QTime(10, 0)), 1.0,
        orvo::RecordType::audio, std::nullopt, 0.5);
    check(store.write([&] { store.add(record); }), "a record is written");
    check(store.objects().size() == before + 1, "the written record is there");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvo::fuzz::ensureApplication();
    // The technical log of the set-aside files goes into the temporary home.
    static QTemporaryDir home(orvo::fuzz::scratchRoot() + "/fuzz-catalogue-home-XXXXXX");
    static const bool homeSet = qputenv("HOME", home.path().toUtf8());
    check(homeSet && home.isValid(), "a temporary home");

    const QDir& folder = runFolder();
    checkCatalogue(folder, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const QString& file : folder.entryList(QDir::Files)) {
        check(QFile::remove(folder.filePath(file)), "the next run starts from an empty folder");
    }
    return 0;
}
