// The program's resident memory as a user meets it: at start with the records window shown over
// an empty catalogue, idle with 1,000 records in the window, and after one transcription of a
// spoken call. Each figure in a process of its own, the program launched in it as it runs; run
// them through bench/run-memory-bench.
//
// bench_app_memory start|idle|transcribed
#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "EventWait.h"
#include "LaunchedTray.h"
#include "ProcessMemory.h"
#include "RecordFill.h"
#include "app/AppDelegate.h"
#include "shell/API.h"
#include "store/RealmManager.h"
#include "store/RealmRecordModel.h"
#include "transcription/TranscriptionJob.h"

namespace {

using orvo::bench::wait;

using orvo::bench::statusMegabytes;

using namespace orvo;

constexpr int settleMs = 3000;
constexpr int idleMs = 10000;
constexpr int catalogueSize = 1000;

bool run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// About two minutes of flite's speech as a record of the catalogue, in the format the
// program writes.
std::shared_ptr<RealmRecordModel> spokenRecord() {
    QTemporaryDir dir;
    const QString text = "Thank you for calling. We talked about the budget for next year and "
                         "agreed to meet again on Tuesday morning to sign the contract. ";
    const QString name = "spoken.m4a";
    if (!run("flite", {"-t", text.repeated(8), "-o", dir.filePath("speech.wav")}) ||
        !run("ffmpeg", {"-v", "error", "-y", "-i", dir.filePath("speech.wav"), "-ar", "48000",
                        "-ac", "2", "-c:a", "aac", API::audioRecordsPath() + name})) {
        std::fprintf(stderr, "flite or ffmpeg failed\n");
        return nullptr;
    }
    auto record =
        std::make_shared<RealmRecordModel>("Spoken call", "", name, QDateTime::currentDateTime(),
                                           120.0, RecordType::audio, std::nullopt, 1.0);
    RealmManager::saveObject(record);
    return record;
}

bool transcribe(const std::shared_ptr<RealmRecordModel>& record) {
    auto job = TranscriptionJob::create(record);
    if (!job) {
        return false;
    }
    QEventLoop loop;
    bool finished = false;
    QObject::connect(job.get(), &TranscriptionJob::finished, [&] {
        finished = true;
        loop.quit();
    });
    QObject::connect(job.get(), &TranscriptionJob::failed, &loop, &QEventLoop::quit);
    job->start();
    loop.exec();
    return finished && !record->recognizeText().isEmpty();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString phase = argc > 1 ? QString(argv[1]) : QString("start");
    if (phase != "start" && phase != "idle" && phase != "transcribed") {
        std::fprintf(stderr, "usage: bench_app_memory start|idle|transcribed\n");
        return 2;
    }
    if (phase != "start") {
        QDir().mkpath(QFileInfo(API::recordsRealmPath()).path());
        bench::fillStore(API::recordsRealmPath(), catalogueSize);
    }
    auto launched = LaunchedTray::launch();
    if (!launched) {
        return 1;
    }
    launched->delegate->showRecordsWindow();
    wait(settleMs);
    if (phase == "idle") {
        wait(idleMs);
    }
    if (phase == "transcribed") {
        const auto record = spokenRecord();
        if (!record || !transcribe(record)) {
            std::fprintf(stderr, "the transcription failed\n");
            return 1;
        }
        wait(settleMs);
    }
    std::printf("%-12s resident %6.1f MB (heap and other private %5.1f, files %5.1f, shared "
                "%4.1f)   peak %6.1f MB\n",
                qPrintable(phase), statusMegabytes("VmRSS"), statusMegabytes("RssAnon"),
                statusMegabytes("RssFile"), statusMegabytes("RssShmem"), statusMegabytes("VmHWM"));
    return 0;
}
