#include "RecordFill.h"

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include <QDateTime>
#include <QFile>
#include <QSet>
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

QStringList transcriptVocabulary() {
    const QStringList consonants{"b", "d", "f", "g", "k", "l", "m", "n", "p", "r", "s", "t", "v"};
    const QStringList vowels{"a", "e", "i", "o", "u", "é", "ö"};
    const QStringList cyrillic{"ба", "ве", "ло", "ми", "на", "ро", "ст", "ту", "жи", "ко"};
    std::mt19937 random(11);
    QStringList syllables;
    for (const QString& consonant : consonants) {
        for (const QString& vowel : vowels) {
            syllables << consonant + vowel;
        }
    }
    QSet<QString> seen;
    QStringList words;
    const auto addWord = [&](const QStringList& from, int syllableCount) {
        QString word;
        for (int i = 0; i < syllableCount; ++i) {
            word += from[int(random() % from.size())];
        }
        if (!seen.contains(word)) {
            seen.insert(word);
            words << word;
        }
    };
    while (words.size() < 22000) {
        const int kind = int(random() % 20);
        if (kind == 0) {
            addWord(cyrillic, 2 + int(random() % 2));
        } else {
            addWord(syllables, 1 + int(random() % 4));
        }
    }
    return words;
}

void fillTranscribedStore(const QString& path, int count, int wordsEach) {
    if (QFile::exists(path)) {
        return;
    }
    const QStringList vocabulary = transcriptVocabulary();
    // Zipf's law: the word of rank r is used in proportion to 1/r.
    std::vector<double> cumulative;
    double total = 0;
    for (int rank = 1; rank <= vocabulary.size(); ++rank) {
        cumulative.push_back(total += 1.0 / rank);
    }
    std::mt19937 random(13);
    std::uniform_real_distribution<double> uniform(0, total);
    const QString partial = path + ".partial";
    QFile::remove(partial);
    {
        Realm store({partial, 1});
        const QDateTime start(QDate(2021, 1, 1), QTime(9, 0));
        // Ten calls a day; a write per hundred records keeps memory bounded.
        for (int first = 0; first < count; first += 100) {
            store.write([&] {
                for (int i = first; i < std::min(count, first + 100); ++i) {
                    const QDateTime time = start.addSecs(qint64(i / 10) * 86400 + (i % 10) * 3600);
                    auto record = std::make_shared<RealmRecordModel>(
                        "Call " + time.toString("yyyyMMddHHmm"), "",
                        time.toString("yyyyMMddHHmmss") + ".m4a", time, 3600.0, RecordType::audio,
                        std::nullopt, 30.0);
                    QString text;
                    text.reserve(wordsEach * 8);
                    for (int w = 0; w < wordsEach; ++w) {
                        if (w % 40 == 0) {
                            text += w == 0 ? "" : "\n";
                            text += (w / 40) % 2 == 0 ? "You:" : "Them:";
                        }
                        const auto at =
                            std::lower_bound(cumulative.begin(), cumulative.end(), uniform(random));
                        text += ' ' + vocabulary[int(std::min<std::ptrdiff_t>(
                                          at - cumulative.begin(), vocabulary.size() - 1))];
                    }
                    record->setRecognizeText(text);
                    store.add(record);
                }
            });
        }
    }
    QFile::rename(partial, path);
}

double heapMegabytes() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1e6;
}

} // namespace orvo::bench
