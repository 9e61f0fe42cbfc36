#pragma once

#include <atomic>
#include <thread>

#include <QByteArray>
#include <QString>

namespace orvo::test {

// Plays a 440 Hz tone at half of full scale to the server's default output until destroyed.
// The stream names no device, so it follows the default output as the user's sound does.
class TonePlayer {
public:
    explicit TonePlayer(const QByteArray& server);
    ~TonePlayer();
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Records from the source (a server name such as "speakers.monitor") for durationMs and gives
// the highest level, as the RMS of full scale (0.0 to 1.0), of its 50 ms blocks after the
// first skipMs. Negative when the source cannot be recorded.
double loudestLevel(const QByteArray& server, const QString& source, int durationMs,
                    int skipMs = 0);

} // namespace orvo::test
