// Offline transcription: word error rate and wall time per audio minute of our decoder beside
// the pocketsphinx_continuous command line on the same audio and model, and how long a cancel
// takes to stop the worker. The audio is flite speaking fixed sentences (several voices,
// numbers and names) with a second of silence after each.
//
// bench_transcription [--keep DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include "platform/linux/PocketsphinxSpeechRecognizer.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvo::PocketsphinxSpeechRecognizer;
using orvo::SpeechError;
using orvo::SpeechResult;

// Spoken as written: the reference is the text itself.
const char* const sentences[] = {
    "the meeting with john smith moves to three thirty on friday",
    "please send the contract to mary before the end of the week",
    "my phone number is five five five one two three four",
    "we shipped twenty four boxes to the warehouse in boston",
    "can you call me back after lunch",
    "the invoice total is one hundred and fifty dollars",
    "david will join the call from london tomorrow morning",
    "our flight leaves at seven fifteen in the evening",
    "the weather in chicago was cold and windy today",
    "i think we should hire two more engineers this year",
    "let me check the schedule and get back to you",
    "the project deadline is the first of september",
    "sarah asked about the budget for the new office",
    "we need forty chairs and ten tables for the event",
    "thank you for calling have a nice day",
    "the server went down at nine o'clock last night",
    "please confirm the order number eight six two",
    "robert will present the results on monday",
    "the train from new york arrives at noon",
    "i will send you the report by email this afternoon",
};
const char* const voices[] = {"slt", "rms", "awb", "kal16"};

bool run(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        return false;
    }
    if (output != nullptr) {
        *output = process.readAllStandardOutput();
    }
    return true;
}

QStringList words(const QString& text) {
    QString clean = text.toLower();
    clean.replace(QRegularExpression("[^a-z']+"), " ");
    return clean.split(' ', Qt::SkipEmptyParts);
}

double wordErrorRate(const QStringList& reference, const QStringList& hypothesis) {
    std::vector<int> previous(hypothesis.size() + 1);
    std::vector<int> current(hypothesis.size() + 1);
    for (int j = 0; j <= hypothesis.size(); ++j) {
        previous[j] = j;
    }
    for (int i = 1; i <= reference.size(); ++i) {
        current[0] = i;
        for (int j = 1; j <= hypothesis.size(); ++j) {
            const int substitution =
                previous[j - 1] + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1);
            current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return reference.isEmpty() ? 0 : 100.0 * previous[hypothesis.size()] / reference.size();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Our decoder on file: the final text, or none after an error.
std::optional<QString> ours(PocketsphinxSpeechRecognizer& engine, const QString& file) {
    std::optional<QString> text;
    bool done = false;
    auto task = engine.recognitionTask(
        QLocale(QLocale::English), file, std::nullopt, true,
        [&](std::optional<SpeechResult> result, std::optional<SpeechError>) {
            if (!result || result->isFinal) {
                done = true;
                text = result ? std::optional(result->formattedString) : std::nullopt;
            }
        });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return text;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"keep", "leave the audio in DIR", "DIR"});
    parser.process(application);
    QTemporaryDir temporary;
    const QString dir = parser.isSet("keep") ? parser.value("keep") : temporary.path();

    // One 16 kHz mono file: each sentence in the next voice, a second of silence after it.
    QStringList reference;
    QString list;
    int index = 0;
    for (const char* sentence : sentences) {
        const QString wav = dir + QString("/s%1.wav").arg(index);
        const QString voice = voices[index % std::size(voices)];
        if (!run("flite", {"-voice", voice, "-t", sentence, "-o", dir + "/raw.wav"}) ||
            !run("ffmpeg", {"-v", "error", "-y", "-i", dir + "/raw.wav", "-af", "apad=pad_dur=1",
                            "-ar", "16000", "-ac", "1", wav})) {
            std::fprintf(stderr, "bench_transcription: cannot make speech\n");
            return 1;
        }
        list += "file '" + wav + "'\n";
        reference += words(sentence);
        ++index;
    }
    const QString audio = dir + "/call.wav";
    QFile listFile(dir + "/list.txt");
    if (!listFile.open(QIODevice::WriteOnly) || listFile.write(list.toUtf8()) < 0) {
        return 1;
    }
    listFile.close();
    QByteArray probe;
    if (!run("ffmpeg",
             {"-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", dir + "/list.txt", audio}) ||
        !run("ffprobe",
             {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", audio},
             &probe)) {
        return 1;
    }
    const double audioMinutes = probe.trimmed().toDouble() / 60.0;

    // Each side runs twice and the second run counts, so that neither pays for a cold cache.
    PocketsphinxSpeechRecognizer engine;
    const QString model = "/usr/share/pocketsphinx/model/en-us";
    std::optional<QString> ourText;
    QByteArray cliOutput;
    double ourSeconds = 0;
    double cliSeconds = 0;
    for (int round = 0; round < 2; ++round) {
        auto start = Clock::now();
        ourText = ours(engine, audio);
        ourSeconds = secondsSince(start);

        start = Clock::now();
        if (!run("pocketsphinx_continuous",
                 {"-infile", audio, "-hmm", model + "/en-us", "-lm", model + "/en-us.lm.bin",
                  "-dict", model + "/cmudict-en-us.dict", "-logfn", "/dev/null"},
                 &cliOutput)) {
            std::fprintf(stderr, "bench_transcription: pocketsphinx_continuous failed\n");
            return 1;
        }
        cliSeconds = secondsSince(start);
    }

    // Cancel while the decoder works; the backend's end waits for the worker.
    double cancelMs = 0;
    {
        std::optional<PocketsphinxSpeechRecognizer> cancelled(std::in_place);
        auto task = cancelled->recognitionTask(QLocale(QLocale::English), audio, std::nullopt, true,
                                               [](auto, auto) {});
        QThread::msleep(3000);
        const auto start = Clock::now();
        task->cancel();
        task.reset();
        cancelled.reset();
        cancelMs = secondsSince(start) * 1000;
    }

    std::printf("audio: %.2f min, %lld words, %d sentences\n", audioMinutes,
                static_cast<long long>(reference.size()), index);
    std::printf("ours:                    WER %5.1f %%, %.2f s per audio minute\n",
                wordErrorRate(reference, words(ourText.value_or(QString()))),
                ourSeconds / audioMinutes);
    std::printf("pocketsphinx_continuous: WER %5.1f %%, %.2f s per audio minute\n",
                wordErrorRate(reference, words(QString::fromUtf8(cliOutput))),
                cliSeconds / audioMinutes);
    std::printf("cancel to worker stopped: %.0f ms\n", cancelMs);
    return 0;
}
