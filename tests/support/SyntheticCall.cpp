#include "support/SyntheticCall.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>

#include <QProcess>
#include <QTemporaryDir>

#include "platform/linux/signal/SumOfSquares.h"
#include "support/TestFiles.h"

namespace orvo::test {
namespace {

constexpr int rate = SyntheticCall::rate;

void place(std::vector<float>& track, const std::vector<float>& speech, double atSeconds) {
    const auto at = std::size_t(atSeconds * rate);
    track.resize(std::max(track.size(), at + speech.size()));
    for (std::size_t i = 0; i < speech.size(); ++i) {
        track[at + i] += speech[i];
    }
}

double seconds(const std::vector<float>& speech) {
    return double(speech.size()) / rate;
}

} // namespace

std::vector<float> spoken(const QString& voice, const QString& text) {
    QTemporaryDir folder;
    const QString path = folder.filePath("speech.wav");
    QProcess flite;
    flite.start("flite", {"-voice", voice, "-t", text, "-o", path});
    flite.waitForFinished(30000);
    const QByteArray wav = readFile(path);
    const qsizetype data = wav.indexOf("data");
    std::vector<float> samples;
    for (qsizetype at = data < 0 ? wav.size() : data + 8; at + 1 < wav.size(); at += 2) {
        std::int16_t value = 0;
        std::memcpy(&value, wav.constData() + at, 2);
        samples.push_back(float(value) / 32768.0f);
    }
    return samples;
}

SyntheticCall makeSyntheticCall(double minimumSeconds) {
    const QString firstText = "Good morning. I am calling about the order you placed on Monday, "
                              "the one with the blue chairs and the long table.";
    const QString secondText = "We can deliver it on Thursday afternoon, or on Saturday morning "
                               "if that suits you better.";
    const QString answerText = "Thursday afternoon is fine. Please ring the bell twice, and leave "
                               "the chairs in the hall if nobody comes to the door.";
    const QString overlapText = "Wonderful, I will write that down for the driver.";
    const auto first = spoken("slt", firstText);
    const auto second = spoken("slt", secondText);
    const auto answer = spoken("rms", answerText);
    const auto overlap = spoken("slt", overlapText);
    SyntheticCall call;
    double at = 0;
    do {
        const double start = at + 0.5;
        place(call.far, first, start);
        const double secondAt = start + seconds(first) + 0.4;
        place(call.far, second, secondAt);
        const double answerAt = secondAt + seconds(second) + 0.8;
        place(call.near, answer, answerAt);
        place(call.far, overlap, answerAt + 1.0);
        call.farScript += firstText + " " + secondText + " " + overlapText + " ";
        call.nearScript += answerText + " ";
        if (at == 0) {
            call.farAloneFrom = start;
            call.farAloneUntil = secondAt + seconds(second);
            call.nearAloneFrom = answerAt;
            call.bothFrom = answerAt + 1.0;
        }
        at = std::max(answerAt + seconds(answer), answerAt + 1.0 + seconds(overlap)) + 1.0;
    } while (at < minimumSeconds);
    const std::size_t length = std::size_t(at * rate);
    call.far.resize(length);
    call.near.resize(length);
    return call;
}

std::vector<float> roomResponse(int delayMs) {
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const auto direct = std::size_t(delayMs * rate / 1000);
    std::vector<float> response(direct + rate * 120 / 1000);
    response[direct] = 0.5f;
    for (std::size_t i = direct + 1; i < response.size(); ++i) {
        const double age = double(i - direct) / rate;
        response[i] = float(0.08 * std::exp(-age / 0.025)) * noise(random);
    }
    return response;
}

std::vector<float> heardThrough(const std::vector<float>& signal,
                                const std::vector<float>& response, std::size_t length) {
    std::vector<float> out(length);
    for (std::size_t k = 0; k < response.size(); ++k) {
        if (response[k] == 0.0f) {
            continue;
        }
        for (std::size_t i = 0; i + k < length && i < signal.size(); ++i) {
            out[i + k] += response[k] * signal[i];
        }
    }
    return out;
}

std::vector<float> microphoneOf(const SyntheticCall& call, int delayMs) {
    std::vector<float> microphone = heardThrough(call.far, roomResponse(delayMs), call.far.size());
    for (std::size_t i = 0; i < microphone.size(); ++i) {
        microphone[i] += call.near[i];
    }
    return microphone;
}

double energy(const std::vector<float>& track, double fromSeconds, double toSeconds,
              int sampleRate) {
    const auto to = std::min(track.size(), std::size_t(toSeconds * sampleRate));
    const auto from = std::min(to, std::size_t(fromSeconds * sampleRate));
    return sumOfSquares(std::span<const float>(track).subspan(from, to - from));
}

void writeWav(const QString& path, const std::vector<float>& samples) {
    QByteArray data;
    for (const float sample : samples) {
        const auto value = std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f));
        data.append(reinterpret_cast<const char*>(&value), 2);
    }
    QByteArray header("RIFF");
    const auto put32 = [&](std::uint32_t value) {
        header.append(reinterpret_cast<const char*>(&value), 4);
    };
    const auto put16 = [&](std::uint16_t value) {
        header.append(reinterpret_cast<const char*>(&value), 2);
    };
    put32(std::uint32_t(36 + data.size()));
    header.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    header.append("data");
    put32(std::uint32_t(data.size()));
    writeFile(path, header + data);
}

bool writeCallRecording(const QString& path, const std::vector<float>& you,
                        const std::vector<float>& them, const CallRecordingLayout& layout) {
    const QTemporaryDir sides;
    const QString youWav = sides.filePath("you.wav");
    const QString themWav = sides.filePath("them.wav");
    writeWav(youWav, you);
    writeWav(themWav, them);
    QStringList arguments{"-v", "error", "-y", "-i", youWav, "-i", themWav};
    QStringList tracks;
    if (layout.mixed) {
        arguments << "-filter_complex"
                  << "[0:a][1:a]amix=inputs=2:normalize=0[mix]"
                  << "-map"
                  << "[mix]";
    }
    arguments << "-map"
              << "0:a"
              << "-map"
              << "1:a"
              << "-c:a"
              << "aac"
              << "-b:a"
              << "96k";
    if (layout.rate != 0) {
        arguments << "-ar" << QString::number(layout.rate);
    }
    // The side's name goes where our recorder puts it: the track's handler.
    const int first = layout.mixed ? 1 : 0;
    arguments << QString("-metadata:s:a:%1").arg(first) << "handler_name=You"
              << QString("-metadata:s:a:%1").arg(first + 1) << "handler_name=Them";
    if (layout.mixed) {
        arguments << "-disposition:a:0"
                  << "default"
                  << "-disposition:a:1"
                  << "0"
                  << "-disposition:a:2"
                  << "0";
    }
    if (!layout.userOutput.isEmpty()) {
        arguments << "-movflags"
                  << "use_metadata_tags"
                  << "-metadata"
                  << "org.orvo.output=" + layout.userOutput;
    }
    arguments << "-f"
              << "ipod" << path;
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", arguments);
    return ffmpeg.waitForFinished(60000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace orvo::test
