// The records store with 100,000 records: opening the file with the first sorted query, the
// search of the records window (alone, within the favourites, and the first one after
// opening), one insertion into an observed sorted result, plain or filtered by a search, and
// the memory of a live result.
// bench/store_cli_reference.sh times the same work with the plain sqlite3 tool on the same file.
#include <cstdlib>
#include <iostream>
#include <memory>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "RecordFill.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"
#include "store/Results.h"

namespace {

constexpr int recordCount = 100000;
const QString searchPredicate = "name contains[cd] %@ || recognizeText contains[cd] %@";
const QString favoriteSearchPredicate = "favorite == true AND (" + searchPredicate + ")";

QString& storeFile() {
    static QString path;
    return path;
}

using orvo::bench::heapMegabytes;

void fillStore(const QString& path) {
    orvo::bench::fillStore(path, recordCount);
}

void BM_OpenAndFirstSortedQuery(benchmark::State& state) {
    for (auto _ : state) {
        auto store = std::make_unique<orvo::Realm>(orvo::RealmConfiguration{storeFile(), 1});
        auto results = std::make_unique<orvo::Results>(store->objects().sorted("time", false));
        benchmark::DoNotOptimize(results->size());
        benchmark::DoNotOptimize(results->at(0));
        // Closing belongs to the program's end, not to its start.
        state.PauseTiming();
        results.reset();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_OpenAndFirstSortedQuery)->Unit(benchmark::kMillisecond);

void BM_SearchQuery(benchmark::State& state) {
    const QStringList terms{"john", "uber", "привет", "nothing"};
    const QString term = terms[int(state.range(0))];
    const bool favorites = state.range(1) != 0;
    const QString& predicate = favorites ? favoriteSearchPredicate : searchPredicate;
    orvo::Realm store({storeFile(), 1});
    int found = 0;
    for (auto _ : state) {
        const orvo::Results results =
            store.objects().filter(predicate, {term, term}).sorted("time", false);
        found = results.size();
    }
    state.SetLabel(term.toStdString() + (favorites ? " among favourites" : ""));
    state.counters["found"] = found;
}
BENCHMARK(BM_SearchQuery)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);

// The first search after opening the file, which reads what later searches keep.
void BM_FirstSearchAfterOpening(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<orvo::Realm>(orvo::RealmConfiguration{storeFile(), 1});
        state.ResumeTiming();
        const orvo::Results results =
            store->objects().filter(searchPredicate, {"john", "john"}).sorted("time", false);
        benchmark::DoNotOptimize(results.size());
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSearchAfterOpening)->Unit(benchmark::kMillisecond);

// The same scan with plain equality instead of contains[cd], as the floor of the search.
void BM_ScanWithoutSearch(benchmark::State& state) {
    orvo::Realm store({storeFile(), 1});
    for (auto _ : state) {
        const orvo::Results results = store.objects()
                                          .filter("name == %@ || recognizeText == %@", {"x", "x"})
                                          .sorted("time", false);
        benchmark::DoNotOptimize(results.size());
    }
}
BENCHMARK(BM_ScanWithoutSearch)->Unit(benchmark::kMillisecond);

// The whole write: insert, commit (with its sync to disk) and the change set delivered to
// the observer of the sorted result, all records or a search's. Without an observer for
// comparison.
void BM_InsertIntoObservedSortedResult(benchmark::State& state) {
    enum { unobserved, observedAll, observedSearch };
    const auto mode = state.range(0);
    const bool observed = mode != unobserved;
    orvo::Realm store({storeFile(), 1});
    orvo::Results all = store.objects();
    const orvo::Results results =
        (mode == observedSearch ? all.filter(searchPredicate, {"john", "john"}) : all)
            .sorted("time", false);
    int delivered = 0;
    orvo::NotificationToken token;
    if (observed) {
        token = results.observe([&](const orvo::CollectionChange& change) {
            delivered += int(change.insertions.size());
        });
        QCoreApplication::processEvents();
    } else {
        results.size();
    }
    std::vector<std::shared_ptr<orvo::RealmRecordModel>> added;
    QDateTime time(QDate(2019, 6, 1), QTime(12, 0));
    for (auto _ : state) {
        auto record = std::make_shared<orvo::RealmRecordModel>(
            "Call with John", "", "new.m4a", time = time.addSecs(1), 10, orvo::RecordType::audio,
            std::nullopt, 1);
        store.write([&] { store.add(record); });
        added.push_back(record);
    }
    store.write([&] {
        for (const auto& record : added) {
            store.remove(record);
        }
    });
    const char* labels[] = {"no live result", "observed sorted result",
                            "observed sorted search result"};
    state.SetLabel(labels[mode]);
    state.counters["delivered"] = delivered;
}
BENCHMARK(BM_InsertIntoObservedSortedResult)->Arg(1)->Arg(2)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_LiveResultMemory(benchmark::State& state) {
    orvo::Realm store({storeFile(), 1});
    for (auto _ : state) {
        const double before = heapMegabytes();
        const orvo::Results results = store.objects().sorted("time", false);
        auto token = results.observe([](const orvo::CollectionChange&) {});
        QCoreApplication::processEvents();
        const double live = heapMegabytes();
        std::vector<std::shared_ptr<orvo::RealmRecordModel>> rows;
        for (int i = 0; i < results.size(); ++i) {
            rows.push_back(results.at(i));
        }
        const double everyObject = heapMegabytes();
        state.counters["result_MB"] = live - before;
        state.counters["result_with_every_object_MB"] = everyObject - before;
    }
}
BENCHMARK(BM_LiveResultMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir(home.path()).mkdir("Documents");
    QCoreApplication application(argc, argv);
    orvo::CopyFiles::checkFilesAndCopy();
    const QString kept = qEnvironmentVariable("ORVO_BENCH_STORE_FILE");
    storeFile() = kept.isEmpty() ? home.filePath("records.realm") : kept;
    // A kept file that exists already is reused as it is.
    if (kept.isEmpty() || !QFile::exists(kept)) {
        fillStore(storeFile());
    }
    // The log's console copy would drown the report.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        return EXIT_FAILURE;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return EXIT_SUCCESS;
}
