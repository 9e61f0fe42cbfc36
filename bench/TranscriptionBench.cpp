// Offline transcription: word error rate and wall time per audio minute of our decoder beside
// the pocketsphinx_continuous command line on the same audio and model, and how long a cancel
// takes to stop the worker. The audio is a two-sided call: flite speaking fixed sentences
// (several voices, numbers and names), the sides taking turns, a second of silence after each,
// in an .m4a as our recorder writes it (the mix, then a mono track per side named You and Them).
// Ours reads that file; the command line reads 16 kHz WAV files decoded from its tracks.
//
// bench_transcription [--keep DIR]; ORVO_BENCH_DEBUG=1 also prints the two-sided transcript.
// bench_transcription --minutes N: the call repeated for N minutes, transcribed by side as the
// records window does: wall and processor time per audio minute and the peak memory, to run
// for several lengths (one process each, since the peak only grows) to see how they grow.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>
#include <unistd.h>

#include "platform/Platform.h"
#include "platform/linux/media/FFmpegMedia.h"
#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"
#include "transcription/Recognizer.h"

namespace {

using Clock = std::chrono::steady_clock;
using orvo::PocketsphinxSpeechRecognizer;
using orvo::SpeechError;
using orvo::SpeechResult;

// Spoken as written: the reference is the text itself. Even ones are the near side's.
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

// The words of a transcript's lines of speaker; all its words when speaker is empty.
QStringList wordsOf(const QString& text, const QString& speaker) {
    QStringList result;
    for (QString line : text.split('\n')) {
        const int colon = line.indexOf(QStringLiteral(": "));
        const QString owner = colon > 0 ? line.left(colon) : QString();
        if (colon > 0) {
            line = line.mid(colon + 2);
        }
        if (speaker.isEmpty() || owner == speaker) {
            result += words(line);
        }
    }
    return result;
}

// Our decoder on one track of file (absent: the default one): the final text, or none.
std::optional<QString> ours(PocketsphinxSpeechRecognizer& engine, const QString& file,
                            std::optional<int> stream) {
    std::optional<QString> text;
    bool done = false;
    auto task = engine.recognitionTask(
        QLocale(QLocale::English), file, stream, true,
        [&](std::optional<SpeechResult> result, std::optional<SpeechError>) {
            if (!result || result->isFinal) {
                done = true;
                text = result ? std::optional(result->formattedString) : std::nullopt;
            }
        });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return text;
}

// The whole transcription as the records window runs it: both sides at once, "You: …" lines.
std::optional<QString> oursBySide(const QString& file) {
    std::optional<QString> text;
    bool done = false;
    auto recognizer = orvo::Recognizer::create(file);
    if (!recognizer) {
        return std::nullopt;
    }
    recognizer->complitedRecognizer = [&](std::optional<QString> t, std::optional<SpeechError>) {
        text = t;
        done = true;
    };
    recognizer->recognizerText();
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return text;
}

std::optional<QString> commandLine(const QString& wav) {
    const QString model = "/usr/share/pocketsphinx/model/en-us";
    QByteArray output;
    if (!run("pocketsphinx_continuous",
             {"-infile", wav, "-hmm", model + "/en-us", "-lm", model + "/en-us.lm.bin", "-dict",
              model + "/cmudict-en-us.dict", "-logfn", "/dev/null"},
             &output)) {
        return std::nullopt;
    }
    return QString::fromUtf8(output);
}

// Wall and processor time (all threads, and the children waited for) of one run.
struct Cost {
    double wallSeconds = 0;
    double cpuSeconds = 0;
};

double cpuSecondsSoFar() {
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        for (const timeval& time : {usage.ru_utime, usage.ru_stime}) {
            seconds += double(time.tv_sec) + double(time.tv_usec) / 1e6;
        }
    }
    return seconds;
}

// Runs the measures in turns, twice, and keeps each one's faster run: none pays for a cold
// cache, and a load that comes and goes on a shared machine weighs on ours and the command
// line alike instead of on whichever ran while it lasted.
std::vector<Cost> timedInTurns(const std::vector<std::function<void()>>& measures, int rounds = 2) {
    std::vector<Cost> costs(measures.size());
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < measures.size(); ++i) {
            const auto start = Clock::now();
            const double cpuStart = cpuSecondsSoFar();
            measures[i]();
            const Cost cost{secondsSince(start), cpuSecondsSoFar() - cpuStart};
            if (round == 0 || cost.wallSeconds < costs[i].wallSeconds) {
                costs[i] = cost;
            }
        }
    }
    return costs;
}

bool writeList(const QString& path, const QStringList& files) {
    QFile list(path);
    QByteArray text;
    for (const QString& file : files) {
        text += "file '" + file.toUtf8() + "'\n";
    }
    return list.open(QIODevice::WriteOnly) && list.write(text) == text.size();
}

bool concat(const QString& dir, const QString& name, const QStringList& files) {
    return writeList(dir + "/" + name + ".txt", files) &&
           run("ffmpeg", {"-v", "error", "-y", "-f", "concat", "-safe", "0", "-i",
                          dir + "/" + name + ".txt", dir + "/" + name + ".wav"});
}

// The call in dir: near.wav, far.wav, call.m4a, and what the tracks of call.m4a decode to
// (mix16.wav, you16.wav, them16.wav); its length in seconds, 0 on failure.
double makeCall(const QString& dir, QStringList& nearWords, QStringList& farWords) {
    QStringList nearFiles;
    QStringList farFiles;
    for (int index = 0; index < int(std::size(sentences)); ++index) {
        const QString wav = dir + QString("/s%1.wav").arg(index);
        const QString quiet = dir + QString("/q%1.wav").arg(index);
        const QString voice = voices[index % std::size(voices)];
        if (!run("flite", {"-voice", voice, "-t", sentences[index], "-o", dir + "/raw.wav"}) ||
            !run("ffmpeg", {"-v", "error", "-y", "-i", dir + "/raw.wav", "-af", "apad=pad_dur=1",
                            "-ar", "16000", "-ac", "1", wav}) ||
            !run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-af", "volume=0", quiet})) {
            return 0;
        }
        const bool near = index % 2 == 0;
        (near ? nearWords : farWords) += words(sentences[index]);
        nearFiles += near ? wav : quiet;
        farFiles += near ? quiet : wav;
    }
    const QString call = dir + "/call.m4a";
    QByteArray probe;
    if (!concat(dir, "near", nearFiles) || !concat(dir, "far", farFiles) ||
        !run("ffmpeg", {"-v", "error", "-y", "-i", dir + "/near.wav", "-i", dir + "/far.wav",
                        "-filter_complex", "amix=inputs=2:normalize=0", dir + "/mix.wav"}) ||
        !run("ffmpeg", {"-v",
                        "error",
                        "-y",
                        "-i",
                        dir + "/mix.wav",
                        "-i",
                        dir + "/near.wav",
                        "-i",
                        dir + "/far.wav",
                        "-map",
                        "0:a",
                        "-map",
                        "1:a",
                        "-map",
                        "2:a",
                        "-c:a",
                        "aac",
                        "-ar:a:0",
                        "48000",
                        "-ac:a:0",
                        "2",
                        "-ar:a:1",
                        "24000",
                        "-ar:a:2",
                        "24000",
                        "-metadata:s:a:1",
                        "title=You",
                        "-metadata:s:a:1",
                        "handler_name=You",
                        "-metadata:s:a:2",
                        "title=Them",
                        "-metadata:s:a:2",
                        "handler_name=Them",
                        "-disposition:a:0",
                        "default",
                        "-disposition:a:1",
                        "0",
                        "-disposition:a:2",
                        "0",
                        call})) {
        return 0;
    }
    for (const auto& [track, name] :
         {std::pair{"0:a:0", "mix16"}, std::pair{"0:a:1", "you16"}, std::pair{"0:a:2", "them16"}}) {
        if (!run("ffmpeg", {"-v", "error", "-y", "-i", call, "-map", track, "-ar", "16000", "-ac",
                            "1", dir + "/" + name + ".wav"})) {
            return 0;
        }
    }
    if (!run("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", call},
             &probe)) {
        return 0;
    }
    return probe.trimmed().toDouble();
}

// Word errors of a two-sided transcript: the words each speaker is given against what that
// side said, in percent of all the words said.
double sidedErrorRate(const QStringList& nearReference, const QStringList& nearWords,
                      const QStringList& farReference, const QStringList& farWords) {
    const double errors = wordErrorRate(nearReference, nearWords) * nearReference.size() +
                          wordErrorRate(farReference, farWords) * farReference.size();
    return errors / (nearReference.size() + farReference.size());
}

// What the process holds in memory now.
double residentMegabytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(getpagesize()) / (1024 * 1024) : 0;
}

// The call of dir repeated until it lasts minutes, tracks and their names kept.
std::optional<QString> repeatedCall(const QString& dir, double callSeconds, double minutes) {
    const int repeats = std::max(1, int(std::ceil(minutes * 60 / callSeconds)));
    const QString path = dir + "/long.m4a";
    if (!run("ffmpeg", {"-v", "error", "-y", "-stream_loop", QString::number(repeats - 1), "-i",
                        dir + "/call.m4a", "-map", "0", "-c", "copy", path})) {
        return std::nullopt;
    }
    return path;
}

int transcribeAtLength(const QString& dir, double callSeconds, double minutes) {
    const auto path = repeatedCall(dir, callSeconds, minutes);
    QByteArray probe;
    if (!path || !run("ffprobe",
                      {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", *path},
                      &probe)) {
        std::fprintf(stderr, "bench_transcription: cannot make the long call\n");
        return 1;
    }
    const double audioSeconds = probe.trimmed().toDouble();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    orvo::Platform::shared().install<orvo::SpeechRecognizer>(
        std::make_unique<PocketsphinxSpeechRecognizer>());
    orvo::Platform::shared().install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());
    std::optional<QString> text;
    const Cost cost = timedInTurns({[&] { text = oursBySide(*path); }}, 1).front();
    orvo::Platform::shared().clear();
    if (!text) {
        std::fprintf(stderr, "bench_transcription: the transcription failed\n");
        return 1;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("audio %.1f min, %lld words: wall %.2f s and CPU %.2f s per audio minute, peak "
                "memory %.0f MB, %.0f MB once done\n",
                audioSeconds / 60, static_cast<long long>(words(*text).size()),
                cost.wallSeconds / (audioSeconds / 60), cost.cpuSeconds / (audioSeconds / 60),
                double(usage.ru_maxrss) / 1024, residentMegabytes());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"keep", "leave the audio in DIR", "DIR"});
    parser.addOption({"minutes", "transcribe the call repeated for N minutes", "N"});
    parser.process(application);
    QTemporaryDir temporary;
    const QString dir = parser.isSet("keep") ? parser.value("keep") : temporary.path();

    QStringList nearReference;
    QStringList farReference;
    const double audioSeconds = makeCall(dir, nearReference, farReference);
    if (audioSeconds <= 0) {
        std::fprintf(stderr, "bench_transcription: cannot make the call\n");
        return 1;
    }
    if (parser.isSet("minutes")) {
        return transcribeAtLength(dir, audioSeconds, parser.value("minutes").toDouble());
    }
    // The sides take turns, so the whole call's words are the sentences in order.
    QStringList reference;
    for (const char* sentence : sentences) {
        reference += words(sentence);
    }
    const double minutes = audioSeconds / 60.0;
    const QString call = dir + "/call.m4a";

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    auto engineOwned = std::make_unique<PocketsphinxSpeechRecognizer>();
    PocketsphinxSpeechRecognizer& engine = *engineOwned;
    orvo::Platform::shared().install<orvo::SpeechRecognizer>(std::move(engineOwned));
    orvo::Platform::shared().install<orvo::Media>(std::make_unique<orvo::FFmpegMedia>());

    std::optional<QString> ourMix;
    std::optional<QString> ourYou;
    std::optional<QString> ourSides;
    std::optional<QString> cliMix;
    std::optional<QString> cliYou;
    std::optional<QString> cliThem;
    // Each of ours beside the command line's run on the same audio.
    const std::vector<Cost> costs = timedInTurns({
        [&] { ourMix = ours(engine, call, std::nullopt); },
        [&] { cliMix = commandLine(dir + "/mix16.wav"); },
        [&] { ourYou = ours(engine, call, 1); },
        [&] { cliYou = commandLine(dir + "/you16.wav"); },
        [&] { ourSides = oursBySide(call); },
        [&] {
            cliYou = commandLine(dir + "/you16.wav");
            cliThem = commandLine(dir + "/them16.wav");
        },
    });
    const Cost &ourMixCost = costs[0], &cliMixCost = costs[1], &ourYouCost = costs[2],
               &cliYouCost = costs[3], &ourSidesCost = costs[4], &cliSidesCost = costs[5];
    if (qEnvironmentVariableIsSet("ORVO_BENCH_DEBUG") && ourSides) {
        std::printf("sides:\n%s\nthem alone:\n%s\n", qPrintable(*ourSides),
                    qPrintable(ours(engine, call, 2).value_or("-")));
    }
    if (!ourMix || !ourYou || !ourSides || !cliMix || !cliYou || !cliThem) {
        std::fprintf(stderr, "bench_transcription: a transcription failed\n");
        return 1;
    }

    // Cancel while the decoder works; the backend's end waits for the worker.
    double cancelMs = 0;
    {
        std::optional<PocketsphinxSpeechRecognizer> cancelled(std::in_place);
        auto task = cancelled->recognitionTask(QLocale(QLocale::English), call, std::nullopt, true,
                                               [](auto, auto) {});
        QThread::msleep(3000);
        const auto start = Clock::now();
        task->cancel();
        task.reset();
        cancelled.reset();
        cancelMs = secondsSince(start) * 1000;
    }
    orvo::Platform::shared().clear();

    const auto line = [&](const char* what, double wer, Cost cost, double audio) {
        std::printf("%-42s WER %5.1f %%  wall %6.2f s per audio minute (RTF %.3f), CPU %6.2f s\n",
                    what, wer, cost.wallSeconds / (audio / 60.0), cost.wallSeconds / audio,
                    cost.cpuSeconds / (audio / 60.0));
    };
    std::printf("audio: %.2f min, %lld words (%lld near, %lld far), %d sentences, %d voices\n",
                minutes, static_cast<long long>(reference.size()),
                static_cast<long long>(nearReference.size()),
                static_cast<long long>(farReference.size()), int(std::size(sentences)),
                int(std::size(voices)));
    line("ours, mixed track", wordErrorRate(reference, words(*ourMix)), ourMixCost, audioSeconds);
    line("pocketsphinx_continuous, mixed track", wordErrorRate(reference, words(*cliMix)),
         cliMixCost, audioSeconds);
    line("ours, one side (You)", wordErrorRate(nearReference, words(*ourYou)), ourYouCost,
         audioSeconds);
    line("pocketsphinx_continuous, one side (You)", wordErrorRate(nearReference, words(*cliYou)),
         cliYouCost, audioSeconds);
    line("ours, both sides at once, by speaker",
         sidedErrorRate(nearReference, wordsOf(*ourSides, "You"), farReference,
                        wordsOf(*ourSides, "Them")),
         ourSidesCost, audioSeconds);
    line("pocketsphinx_continuous, each side in turn",
         sidedErrorRate(nearReference, words(*cliYou), farReference, words(*cliThem)), cliSidesCost,
         audioSeconds);
    std::printf("ours, both sides, all words in order:         WER %5.1f %%\n",
                wordErrorRate(reference, wordsOf(*ourSides, QString())));
    std::printf("two-sided, ours / command line: wall %.2f, CPU %.2f\n",
                ourSidesCost.wallSeconds / cliSidesCost.wallSeconds,
                ourSidesCost.cpuSeconds / cliSidesCost.cpuSeconds);
    std::printf("one side, ours / command line:  wall %.2f, CPU %.2f\n",
                ourYouCost.wallSeconds / cliYouCost.wallSeconds,
                ourYouCost.cpuSeconds / cliYouCost.cpuSeconds);
    std::printf("cancel to worker stopped: %.0f ms\n", cancelMs);
    return 0;
}
