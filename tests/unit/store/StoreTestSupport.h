#pragma once

#include <memory>
#include <vector>

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"

namespace orvo::test {

// A record at a given minute of one fixed day, so that sort orders are known.
inline std::shared_ptr<RealmRecordModel> makeRecord(const QString& name, int minute,
                                                    RecordType type = RecordType::audio) {
    const QDateTime time(QDate(2024, 5, 1), QTime(10, 0).addSecs(minute * 60));
    return std::make_shared<RealmRecordModel>(name, "", name + ".m4a", time, 1.0, type,
                                              std::nullopt, 0.5);
}

inline QStringList namesOf(const Results& results) {
    QStringList names;
    for (int i = 0; i < results.size(); ++i) {
        names << results.at(i)->name();
    }
    return names;
}

// Empties the catalogue in one write.
inline void removeAllRecords(Realm& store) {
    const Results all = store.objects();
    // The result moves on only after the write.
    ASSERT_TRUE(store.write([&] {
        for (int i = all.size() - 1; i >= 0; --i) {
            store.remove(all.at(i));
        }
    }));
}

// Every notification of one observation, from the initial one on.
class ChangeRecorder {
public:
    explicit ChangeRecorder(const Results& results) {
        token_ =
            results.observe([this](const CollectionChange& change) { changes.push_back(change); });
        // The initial notification is a queued call on the main thread.
        QCoreApplication::processEvents();
    }
    void stop() { token_.invalidate(); }

    std::vector<CollectionChange> changes;

private:
    NotificationToken token_;
};

// Standard output of the sqlite3 command-line tool run on file with one SQL text.
inline QString sqliteCli(const QString& file, const QString& sql) {
    QProcess process;
    process.start("sqlite3", {file, sql});
    process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// A Realm on a file of its own in a fresh folder.
class RealmFileTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        open();
    }
    void open() { store = std::make_unique<Realm>(RealmConfiguration{path(), 1}); }
    void close() { store.reset(); }
    QString path() const { return folder.filePath("records.realm"); }

    std::shared_ptr<RealmRecordModel> save(const QString& name, int minute) {
        auto record = makeRecord(name, minute);
        EXPECT_TRUE(store->write([&] { store->add(record); }));
        return record;
    }

    QTemporaryDir folder;
    std::unique_ptr<Realm> store;
};

} // namespace orvo::test
