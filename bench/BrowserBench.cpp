// The records window over 100,000 records: shown with its first rows painted, a search
// keystroke until the rows are painted again (a rare pair of letters, and one letter that
// most records contain), one new record until its row is painted, and
// the window's memory, after a search, above the same window over an empty catalogue (measured in
// two child runs of this program, so that neither sees the other's allocations).
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "RecordFill.h"
#include "browser/MainViewController.h"
#include "browser/RecordTableViewController.h"
#include "shell/CopyFiles.h"
#include "store/Realm.h"
#include "store/RealmRecordModel.h"

namespace {

constexpr int recordCount = 100000;
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

void BM_InsertionToRepaintedRow(benchmark::State& state) {
    auto window = showWindow();
    QDateTime time = QDateTime::currentDateTime();
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
    }
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

// The heap after the window over the file is shown, as one child run prints it.
double windowHeapMegabytes(const QString& file) {
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--window-heap", file});
    child.waitForFinished(120000);
    return QString::fromUtf8(child.readAllStandardOutput()).trimmed().toDouble();
}

int printWindowHeap(const QString& file) {
    orvo::Realm::setDefaultConfiguration({file, 1});
    auto window = showWindow();
    // After a search, so that what the search keeps in memory counts too.
    window->searchField->setText("a");
    window->searchField->clear();
    paint(*window);
    std::printf("%.2f\n", orvo::bench::heapMegabytes());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc == 3 && QString(argv[1]) == "--window-heap") {
        return printWindowHeap(argv[2]);
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    QDir(home.path()).mkdir("Documents");
    orvo::CopyFiles::checkFilesAndCopy();
    const QString full = home.filePath("records.realm");
    const QString empty = home.filePath("empty.realm");
    orvo::bench::fillStore(full, recordCount);
    orvo::bench::fillStore(empty, 0);

    const double fullHeap = windowHeapMegabytes(full);
    const double emptyHeap = windowHeapMegabytes(empty);
    std::cout << "Window memory at " << recordCount << " records: " << fullHeap - emptyHeap
              << " MB above an empty catalogue (" << fullHeap << " MB against " << emptyHeap
              << " MB of heap)\n";

    orvo::Realm::setDefaultConfiguration({full, 1});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
