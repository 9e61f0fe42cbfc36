#include "integration/platform/MediaCheck.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include "support/TestFiles.h"

namespace orvo::test {

namespace {
constexpr int rate = 48000;
} // namespace

QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

// The types of an ISO media file's top-level boxes, read from their headers.
QStringList topLevelBoxes(const QString& path) {
    QFile file(path);
    QStringList boxes;
    if (!file.open(QIODevice::ReadOnly)) {
        return boxes;
    }
    qint64 at = 0;
    while (at + 8 <= file.size() && file.seek(at)) {
        const QByteArray header = file.read(16);
        if (header.size() < 8) {
            break;
        }
        const auto be = [&](int from, int bytes) {
            quint64 value = 0;
            for (int i = 0; i < bytes; ++i) {
                value = (value << 8) | quint8(header[from + i]);
            }
            return value;
        };
        quint64 size = be(0, 4);
        if (size == 1 && header.size() == 16) {
            size = be(8, 8);
        } else if (size == 0) {
            size = quint64(file.size() - at);
        }
        boxes << QString::fromLatin1(header.mid(4, 4));
        if (size < 8) {
            break;
        }
        at += qint64(size);
    }
    return boxes;
}

ProbedFile probe(const QString& path) {
    const QByteArray json = run(
        "ffprobe", {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", path});
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    ProbedFile probed;
    const QJsonObject format = root.value("format").toObject();
    probed.readable = !format.isEmpty();
    probed.formatName = format.value("format_name").toString();
    probed.durationSeconds = format.value("duration").toString().toDouble();
    const QJsonObject tags = format.value("tags").toObject();
    if (tags.contains("org.orvo.capture-start")) {
        probed.captureStart = tags.value("org.orvo.capture-start").toString().toLongLong();
    }
    if (tags.contains("org.orvo.output")) {
        probed.userOutput = tags.value("org.orvo.output").toString();
    }
    probed.topLevelBoxes = topLevelBoxes(path);
    for (const QJsonValue value : root.value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        probed.streamTypes << stream.value("codec_type").toString();
        probed.streamCodecs << stream.value("codec_name").toString();
        probed.streamTitles << stream.value("tags").toObject().value("handler_name").toString();
        probed.streamDefaults.push_back(
            stream.value("disposition").toObject().value("default").toInt() == 1);
        probed.streamDurations.push_back(stream.value("duration").toString().toDouble());
        probed.streamChannels.push_back(stream.value("channels").toInt());
        if (stream.value("codec_type").toString() == "video") {
            probed.videoWidth = stream.value("width").toInt();
        }
    }
    return probed;
}

std::vector<float> samplesOf(const QByteArray& raw) {
    std::vector<float> samples(std::size_t(raw.size()) / sizeof(float));
    std::memcpy(samples.data(), raw.constData(), samples.size() * sizeof(float));
    return samples;
}

std::vector<float> decodeAudio(const QString& path, int audioTrack) {
    return samplesOf(
        run("ffmpeg", {"-v", "error", "-i", path, "-map", QStringLiteral("0:a:%1").arg(audioTrack),
                       "-af", "pan=mono|c0=c0", "-ar", QString::number(rate), "-f", "f32le", "-"}));
}

double toneAmplitude(const std::vector<float>& samples, double frequency, double fromSeconds,
                     double toSeconds) {
    const auto from = std::size_t(std::max(0.0, fromSeconds) * rate);
    const auto to = std::min(samples.size(), std::size_t(toSeconds * rate));
    constexpr std::size_t window = rate / 50;
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / rate);
    double sum = 0.0;
    std::size_t windows = 0;
    for (std::size_t begin = from; begin + window <= to; begin += window, ++windows) {
        // Hann-weighted Goertzel: the other tones of a file leak nothing into it.
        double previous = 0.0;
        double beforePrevious = 0.0;
        for (std::size_t i = 0; i < window; ++i) {
            const double weight = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * double(i) / window);
            const double current =
                weight * samples[begin + i] + coefficient * previous - beforePrevious;
            beforePrevious = previous;
            previous = current;
        }
        const double power = previous * previous + beforePrevious * beforePrevious -
                             coefficient * previous * beforePrevious;
        // The Hann window halves the sum of the weights.
        sum += 4.0 * std::sqrt(std::max(0.0, power)) / double(window);
    }
    return windows == 0 ? 0.0 : sum / double(windows);
}

double peak(const std::vector<float>& samples) {
    double highest = 0.0;
    for (const float sample : samples) {
        highest = std::max(highest, double(std::fabs(sample)));
    }
    return highest;
}

QString makeTone(const QString& folder, double frequency, double amplitude, double seconds) {
    const QString path =
        QStringLiteral("%1/tone-%2-%3.wav").arg(folder).arg(frequency).arg(amplitude);
    run("sox", {"-n", "-r", QString::number(rate), "-c", "2", "-b", "16", path, "synth",
                QString::number(seconds), "sine", QString::number(frequency), "vol",
                QString::number(amplitude)});
    return path;
}

QString makeAacTone(const QString& folder, double frequency, double amplitude, double seconds) {
    const QString wav = makeTone(folder, frequency, amplitude, seconds);
    const QString path = QString(wav).replace(".wav", ".m4a");
    run("ffmpeg", {"-v", "error", "-y", "-i", wav, "-c:a", "aac", "-b:a", "192k", path});
    return path;
}

TonePlayer::TonePlayer(const QString& folder, const QString& sink, double frequency,
                       double amplitude, int latencyMs)
    : player_(std::make_unique<QProcess>()) {
    const QString wav = makeTone(folder, frequency, amplitude, 60);
    name_ = "orvo-tone-" + QString::number(frequency);
    // Verbose: the player then tells each underrun.
    log_ = folder + "/" + name_ + ".log";
    player_->setStandardErrorFile(log_);
    QStringList arguments{"--verbose", "--latency-msec=" + QString::number(latencyMs),
                          "--client-name=" + name_, wav};
    if (!sink.isEmpty()) {
        arguments.prepend("--device=" + sink);
    }
    player_->start("paplay", arguments);
    player_->waitForStarted();
}

TonePlayer::~TonePlayer() {
    player_->kill();
    player_->waitForFinished();
}

bool TonePlayer::playing() const {
    return player_->state() == QProcess::Running &&
           QString::fromUtf8(run("pactl", {"list", "sink-inputs"})).contains(name_);
}

std::optional<int> TonePlayer::streamIndex() const {
    const QString list = QString::fromUtf8(run("pactl", {"list", "sink-inputs"}));
    for (const QString& block : list.split("Sink Input #", Qt::SkipEmptyParts)) {
        if (block.contains("application.name = \"" + name_ + "\"")) {
            return block.section('\n', 0, 0).trimmed().toInt();
        }
    }
    return std::nullopt;
}

int TonePlayer::underruns() const {
    return int(readFile(log_).count("Stream underrun."));
}

bool waitForOutput(QProcess& process, const QByteArray& marker, int timeoutMs) {
    QByteArray output;
    waitUntil(
        [&] {
            process.waitForReadyRead(100);
            output += process.readAllStandardOutput();
            return output.contains(marker) || process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    return output.contains(marker);
}

std::pair<int, int> displaySize() {
    const QString text = QString::fromUtf8(run("xrandr", {"--current"}));
    const QRegularExpression current(QStringLiteral("current (\\d+) x (\\d+)"));
    const auto match = current.match(text);
    if (!match.hasMatch()) {
        return {0, 0};
    }
    return {match.captured(1).toInt(), match.captured(2).toInt()};
}

std::vector<Screen> RootScreenDisplays::screens() {
    const auto [width, height] = displaySize();
    if (width == 0) {
        return {};
    }
    return {Screen{rootDisplayID, QRect(0, 0, width, height), std::nullopt}};
}

} // namespace orvo::test
