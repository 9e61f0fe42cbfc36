#pragma once

#include <cstddef>
#include <vector>

#include <QString>

namespace orvo::test {

// A call made of flite's voices at 16 kHz: the far side speaks alone, the user answers alone,
// then both talk at once. The far side's echo is not in it: see heardThrough.
struct SyntheticCall {
    static constexpr int rate = 16000;
    std::vector<float> far;
    std::vector<float> near; // what the user said, alone
    double farAloneFrom = 0;
    double farAloneUntil = 0;
    double nearAloneFrom = 0; // the user alone, for a second
    double bothFrom = 0;
    QString farScript; // what the far side said, every round
    QString nearScript;
};

// What flite says in the voice, as 16 kHz samples; empty when flite cannot be run.
std::vector<float> spoken(const QString& voice, const QString& text);
// The conversation, repeated until it lasts at least minimumSeconds (the times are those of
// its first round).
SyntheticCall makeSyntheticCall(double minimumSeconds = 0);
// A room: the direct path after delayMs, then reflections that die away in 120 ms.
std::vector<float> roomResponse(int delayMs);
// The signal as heard through the response, cut to length.
std::vector<float> heardThrough(const std::vector<float>& signal,
                                const std::vector<float>& response, std::size_t length);
// The microphone of the call in a room with that delay: the user plus the far side's echo.
std::vector<float> microphoneOf(const SyntheticCall& call, int delayMs);
// The energy of the track between the two times, at the call's rate or the one given.
double energy(const std::vector<float>& track, double fromSeconds, double toSeconds,
              int sampleRate = SyntheticCall::rate);

// The samples as a 16-bit WAV file at the call's rate.
void writeWav(const QString& path, const std::vector<float>& samples);

// How writeCallRecording lays the sides out.
struct CallRecordingLayout {
    bool mixed = false; // the sum of both sides first, as the default track
    int rate = 0;       // the tracks' sample rate; 0: the call's
    QString userOutput; // what the user listened through, as the file says; empty: unsaid
};

// A recording of the call as ours are made: the sides as AAC tracks "You" and "Them"; false
// when FFmpeg could not write it.
bool writeCallRecording(const QString& path, const std::vector<float>& you,
                        const std::vector<float>& them, const CallRecordingLayout& layout = {});

} // namespace orvo::test
