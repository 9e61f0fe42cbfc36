// The records window over 100,000 records: shown with its first rows painted, a search
// keystroke until the rows are painted again (a rare pair of letters, and one letter that
// most records contain, and needles of 2, 3 and 5 letters of the transcripts' words), one new
// record until its row is painted, and the window's memory, after a search, above the same
// window over an empty catalogue (measured in two child runs of this program, so that neither
// sees the other's allocations).
// ORVO_BENCH_RECORDS=20000 ORVO_BENCH_TRANSCRIPT_WORDS=9000 gives every record an hour-long
// transcript instead (a catalogue of years of calls); that file is made once and kept in
// ORVO_BENCH_CACHE (default /var/tmp/orvo-bench) for the next run.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "ProcessMemory.h"
#include "RecordFill.h"
#include "browser/MainViewController.h"
#include "browser/RecordTableViewController.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Paints the window's visible rows as the screen would.
void paint(QWidget& window) {
    benchmark::DoNotOptimize(window.grab());
}

std::unique_ptr<orvo::MainViewController> showWindow() {
    auto window = std::make_unique<orvo::MainViewController>();
    window->resize(820, 600);
    window->show();
    paint(*window);
    return window;
}

void BM_WindowShownAndFirstRowsPainted(benchmark::State& state) {
    for (auto _ : state) {
        const auto start = Clock::now();
        auto window = showWindow();
        state.SetIterationTime(secondsSince(start));
        state.PauseTiming();
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowShownAndFirstRowsPainted)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SearchKeystrokeToRepaintedRows(benchmark::State& state) {
    auto window = showWindow();
    window->searchField->setText("jö");
    bool longer = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        // Typing one more letter, then taking it back: each is one keystroke.
        window->searchField->setText(longer ? "jör" : "jö");
        paint(*window);
        state.SetIterationTime(secondsSince(start));
        longer = !longer;
    }
    state.counters["rows"] = window->recordsTableView->numberOfRows();
}
BENCHMARK(BM_SearchKeystrokeToRepaintedRows)->UseManualTime()->Unit(benchmark::kMillisecond);

// One letter that most records contain, then the empty field: the largest results to build.
void BM_OneLetterKeystrokeToRepaintedRows(benchmark::State& state) {
    auto window = showWindow();
    // Each half apart as well: the letter searches, the empty field lists every record.
    std::array<double, 2> seconds{};
    std::array<int, 2> counts{};
    bool letter = true;
    for (auto _ : state) {
        const auto start = Clock::now();
        window->searchField->setText(letter ? "a" : "");
        paint(*window);
        const double elapsed = secondsSince(start);
        state.SetIterationTime(elapsed);
        seconds[letter] += elapsed;
        ++counts[letter];
        letter = !letter;
    }
    state.counters["letter_ms"] = 1000 * seconds[1] / std::max(counts[1], 1);
    state.counters["cleared_ms"] = 1000 * seconds[0] / std::max(counts[0], 1);
    window->searchField->setText("a");
    state.counters["rows"] = window->recordsTableView->numberOfRows();
}
BENCHMARK(BM_OneLetterKeystrokeToRepaintedRows)->UseManualTime()->Unit(benchmark::kMillisecond);

// Two words of the transcripts' most used with at least length letters: their first letters.
std::array<QString, 2> needlesOfLength(int length) {
    std::array<QString, 2> needles;
    int found = 0;
    for (const QString& word : orvo::bench::transcriptVocabulary()) {
        if (word.size() >= length && found < 2 && (found == 0 || needles[0] != word.left(length))) {
            needles[found++] = word.left(length);
        }
    }
    return needles;
}

// Typing a needle of the transcripts' words: each keystroke a search of its own.
void BM_NeedleKeystrokeToRepaintedRows(benchmark::State& state) {
    const auto needles = needlesOfLength(int(state.range(0)));
    auto window = showWindow();
    int next = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        window->searchField->setText(needles[next]);
        paint(*window);
        state.SetIterationTime(secondsSince(start));
        next = 1 - next;
    }
    state.SetLabel((needles[0] + " " + needles[1]).toStdString());
    state.counters["rows"] = window->recordsTableView->numberOfRows();
    window->searchField->clear();
}
BENCHMARK(BM_NeedleKeystrokeToRepaintedRows)
    ->Arg(2)
    ->Arg(3)
    ->Arg(5)
    ->Arg(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void BM_InsertionToRepaintedRow(benchmark::State& state) {
    auto window = showWindow();
    QDateTime time = QDateTime::currentDateTime();
    std::vector<std::shared_ptr<orvo::RealmRecordModel>> added;
    for (auto _ : state) {
        time = time.addSecs(1);
        auto record = std::make_shared<orvo::RealmRecordModel>(
            "New call", "", time.toString("yyyyMMddHHmmss") + ".m4a", time, 60.0,
            orvo::RecordType::audio, std::nullopt, 1.0);
        const auto start = Clock::now();
        orvo::realm().write([&] { orvo::realm().add(record); });
        QWidget& rows = *window->recordsTableView->recordsTableView->viewport();
        rows.repaint(window->recordsTableView->frameOfRow(0));
        state.SetIterationTime(secondsSince(start));
        added.push_back(record);
    }
    // The catalogue stays as it came for the next run.
    orvo::realm().write([&] {
        for (const auto& record : added) {
            orvo::realm().remove(record);
        }
    });
}
BENCHMARK(BM_InsertionToRepaintedRow)->UseManualTime()->Unit(benchmark::kMillisecond);

// A record with a transcript of 50,000 words, unfolded at the top of the list: painting its
// row, as scrolling does, lays out only the excerpt the row shows.
void BM_UnfoldedLongTranscriptRepainted(benchmark::State& state) {
    QStringList words;
    for (int i = 0; i < 50000; ++i) {
        words << QStringLiteral("word%1").arg(i % 997);
    }
    const QDateTime time = QDateTime::currentDateTime().addYears(1);
    auto record =
        std::make_shared<orvo::RealmRecordModel>("Long call", "", "long-call.m4a", time, 10800.0,
                                                 orvo::RecordType::audio, std::nullopt, 1.0);
    record->setRecognizeText("You: " + words.join(' '));
    orvo::realm().write([&] { orvo::realm().add(record); });
    auto window = showWindow();
    orvo::RecordTableViewController& table = *window->recordsTableView;
    const auto unfoldStart = Clock::now();
    table.actionSubInfo(record);
    while (!table.uncoverState(*record) || table.uncoverState(*record)->animating) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    state.counters["unfold_ms"] = 1000 * secondsSince(unfoldStart);
    QWidget& rows = *table.recordsTableView->viewport();
    for (auto _ : state) {
        const auto start = Clock::now();
        rows.repaint(table.frameOfRow(0));
        state.SetIterationTime(secondsSince(start));
    }
    state.counters["row_height"] = table.recordsTableView->rowHeight(0);
    orvo::realm().write([&] { orvo::realm().remove(record); });
}
BENCHMARK(BM_UnfoldedLongTranscriptRepainted)->UseManualTime()->Unit(benchmark::kMillisecond);

struct WindowMemory {
    double heap = 0;
    double resident = 0;
    double openSeconds = 0;
};

// The memory after the window over the file is shown, as one child run prints it.
WindowMemory windowMemory(const QString& file) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--window-heap", file});
    child.waitForFinished(600000);
    const QStringList figures =
        QString::fromUtf8(child.readAllStandardOutput()).trimmed().split(' ');
    return {figures.value(0).toDouble(), figures.value(1).toDouble(), figures.value(2).toDouble()};
}

int printWindowMemory(const QString& file) {
    orvo::Realm::setDefaultConfiguration({file, 1});
    // Opening checks the whole file before use, as every start of the program does.
    const auto opening = Clock::now();
    orvo::realm();
    const double openSeconds = secondsSince(opening);
    auto window = showWindow();
    // After searches, so that what a search keeps in memory counts too.
    for (const char* needle : {"a", "ab", "abc", "abcde"}) {
        window->searchField->setText(needle);
        paint(*window);
    }
    window->searchField->clear();
    paint(*window);
    std::printf("%.2f %.2f %.3f\n", orvo::bench::heapMegabytes(),
                orvo::bench::statusMegabytes("VmRSS"), openSeconds);
    return 0;
}

int environmentNumber(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value >= 0 ? value : fallback;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 3 && QString(argv[1]) == "--window-heap") {
        return printWindowMemory(argv[2]);
    }
    const int recordCount = environmentNumber("ORVO_BENCH_RECORDS", 100000);
    const int transcriptWords = environmentNumber("ORVO_BENCH_TRANSCRIPT_WORDS", 0);
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir(home.path()).mkdir("Documents");
    orvo::CopyFiles::checkFilesAndCopy();
    QString full = home.filePath("records.realm");
    const QString empty = home.filePath("empty.realm");
    if (transcriptWords > 0) {
        const QString cache = qEnvironmentVariable("ORVO_BENCH_CACHE", "/var/tmp/orvo-bench");
        QDir().mkpath(cache);
        full =
            QString("%1/transcripts-%2x%3.realm").arg(cache).arg(recordCount).arg(transcriptWords);
        const auto start = Clock::now();
        orvo::bench::fillTranscribedStore(full, recordCount, transcriptWords);
        std::cout << "Catalogue of " << recordCount << " records with " << transcriptWords
                  << " words each ready in " << secondsSince(start) << " s\n";
    } else {
        orvo::bench::fillStore(full, recordCount);
    }
    orvo::bench::fillStore(empty, 0);
    std::cout << "Catalogue file: " << QFileInfo(full).size() / 1e6 << " MB\n";

    const WindowMemory fullMemory = windowMemory(full);
    const WindowMemory emptyMemory = windowMemory(empty);
    std::cout << "Window memory at " << recordCount
              << " records: " << fullMemory.heap - emptyMemory.heap
              << " MB above an empty catalogue (" << fullMemory.heap << " MB against "
              << emptyMemory.heap << " MB of heap); resident " << fullMemory.resident
              << " MB against " << emptyMemory.resident << " MB\n";
    std::cout << "Catalogue opened at the program's start (the whole file checked) in "
              << fullMemory.openSeconds << " s\n";

    orvo::Realm::setDefaultConfiguration({full, 1});
    // Opened (and checked) before the window is timed: that is the program's start, above.
    orvo::realm();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
