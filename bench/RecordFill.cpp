#include "RecordFill.h"

#include <memory>
#include <random>

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <malloc.h>

#include "store/Realm.h"
#include "store/RealmRecordModel.h"

namespace orvo::bench {

void fillStore(const QString& path, int count) {
    QFile::remove(path);
    Realm store({path, 1});
    const QStringList words{"hello",    "meeting",  "John", "über", "budget", "Привет", "call",
                            "tomorrow", "contract", "café", "Anna", "report", "звонок"};
    const QStringList prefixes{"Record ", "Запись ", "Call with Jörg ", "Interview "};
    std::mt19937 random(7);
    const QDateTime start(QDate(2020, 1, 1), QTime(0, 0));
    store.write([&] {
        for (int i = 0; i < count; ++i) {
            const QDateTime time = start.addSecs(qint64(i) * 600 + qint64(random() % 300));
            auto record = std::make_shared<RealmRecordModel>(
                prefixes[int(random() % prefixes.size())] + time.toString("yyyyMMddHHmmss"), "",
                time.toString("yyyyMMddHHmmss") + ".m4a", time, double(random() % 3600),
                RecordType::audio, std::nullopt, double(random() % 5000) / 100.0);
            if (i % 3 == 0) {
                QStringList text;
                for (int w = 0; w < 30; ++w) {
                    text << words[int(random() % words.size())];
                }
                record->setRecognizeText(text.join(' '));
            }
            record->setFavorite(i % 5 == 0);
            store.add(record);
        }
    });
}

double heapMegabytes() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1e6;
}

} // namespace orvo::bench
