#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QProcess>
#include <QString>
#include <QStringList>

#include "platform/Displays.h"

namespace orvo::test {

// What ffprobe says about a media file.
struct ProbedFile {
    bool readable = false;
    QString formatName;
    double durationSeconds = 0.0;
    QStringList streamTypes;  // "audio", "video" in stream order
    QStringList streamCodecs; // "aac", "h264", ...
    int videoWidth = 0;
    std::optional<qint64> captureStart; // our start tag, when present
    std::optional<QString> userOutput;  // our tag of what the user listened through
    QStringList topLevelBoxes;          // "ftyp", "moov", "mdat", ... in file order
    QStringList streamTitles;           // the name players show (handler name), per stream
    std::vector<bool> streamDefaults;   // default disposition, per stream
    std::vector<double> streamDurations;
    std::vector<int> streamChannels;
};
ProbedFile probe(const QString& path);

// The left channel of a file's audio at 48 kHz (its audio track audioTrack), decoded by the
// ffmpeg tool.
std::vector<float> decodeAudio(const QString& path, int audioTrack = 0);
// Raw native 32-bit float samples as they are.
std::vector<float> samplesOf(const QByteArray& raw);

// Amplitude of one frequency in samples[from, to) at 48 kHz: the mean over 20-ms windows, so
// that a recording kept on time by a slight change of pace still counts at its level.
double toneAmplitude(const std::vector<float>& samples, double frequency, double fromSeconds,
                     double toSeconds);
double peak(const std::vector<float>& samples);

// What a tool prints, waited for up to a minute.
QByteArray run(const QString& program, const QStringList& arguments);

// A stereo sine of the given amplitude written by sox.
QString makeTone(const QString& folder, double frequency, double amplitude, double seconds);
// Encodes a sox tone into AAC .m4a with the ffmpeg tool.
QString makeAacTone(const QString& folder, double frequency, double amplitude, double seconds);

// Plays a tone into a PulseAudio sink for as long as it lives, with a buffer of latencyMs. An
// empty sink names none: the server chooses, as it does for a program that names none. The
// player's stream is named after the frequency, the same for each player of one frequency.
class TonePlayer {
public:
    TonePlayer(const QString& folder, const QString& sink, double frequency, double amplitude,
               int latencyMs = 20);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;
    // Whether the sound server plays it (its stream exists).
    bool playing() const;
    // How often the player ran dry so far: a gap in its sound that is none of the recorder's.
    int underruns() const;
    // The server's index of the player's stream; absent while it has none.
    std::optional<int> streamIndex() const;

private:
    std::unique_ptr<QProcess> player_;
    QString name_;
    QString log_;
};

// Reads what process prints until it has said marker or has ended; whether it said it.
bool waitForOutput(QProcess& process, const QByteArray& marker, int timeoutMs);

// The root window's size of the X display (from xrandr); 0x0 when none.
std::pair<int, int> displaySize();

// One screen, display 1, covering the X display's root window.
class RootScreenDisplays final : public Displays {
public:
    static constexpr DisplayID rootDisplayID = 1;
    std::optional<std::vector<OnScreenWindow>> onScreenWindows() override { return std::nullopt; }
    bool captureWindowImage(std::uint32_t) override { return false; }
    std::vector<Screen> screens() override;
    std::optional<DisplayID> mainDisplayID() override { return rootDisplayID; }
};

} // namespace orvo::test
