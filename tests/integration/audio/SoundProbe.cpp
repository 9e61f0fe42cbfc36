#include "SoundProbe.h"

#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include <pulse/simple.h>

namespace orvo::test {
namespace {

constexpr std::uint32_t rate = 44100;
constexpr std::uint32_t blockFrames = rate / 20;
constexpr pa_sample_spec stereo{PA_SAMPLE_S16LE, rate, 2};

struct SimpleFree {
    void operator()(pa_simple* stream) const { pa_simple_free(stream); }
};
using SimplePtr = std::unique_ptr<pa_simple, SimpleFree>;

SimplePtr open(const QByteArray& server, pa_stream_direction_t direction, const char* device) {
    pa_buffer_attr attributes{};
    attributes.maxlength = std::uint32_t(-1);
    attributes.tlength = blockFrames * 4 * 2;
    attributes.prebuf = std::uint32_t(-1);
    attributes.minreq = std::uint32_t(-1);
    attributes.fragsize = blockFrames * 4;
    int error = 0;
    return SimplePtr(pa_simple_new(server.constData(), "orvo-test", direction, device,
                                   "sound probe", &stereo, nullptr, &attributes, &error));
}

} // namespace

TonePlayer::TonePlayer(const QByteArray& server) {
    thread_ = std::thread([this, server] {
        SimplePtr stream = open(server, PA_STREAM_PLAYBACK, nullptr);
        std::vector<std::int16_t> block(blockFrames * 2);
        std::uint64_t frame = 0;
        while (stream && !stop_) {
            for (std::uint32_t i = 0; i < blockFrames; ++i, ++frame) {
                const double phase = 2.0 * std::numbers::pi * 440.0 * double(frame) / rate;
                const auto sample = std::int16_t(std::lround(16384.0 * std::sin(phase)));
                block[2 * i] = sample;
                block[2 * i + 1] = sample;
            }
            int error = 0;
            if (pa_simple_write(stream.get(), block.data(), block.size() * 2, &error) < 0) {
                break;
            }
        }
    });
}

TonePlayer::~TonePlayer() {
    stop_ = true;
    thread_.join();
}

double loudestLevel(const QByteArray& server, const QString& source, int durationMs, int skipMs) {
    const QByteArray device = source.toUtf8();
    SimplePtr stream = open(server, PA_STREAM_RECORD, device.constData());
    if (!stream) {
        return -1.0;
    }
    std::vector<std::int16_t> block(blockFrames * 2);
    double loudest = 0.0;
    for (int elapsedMs = 0; elapsedMs < durationMs; elapsedMs += 50) {
        int error = 0;
        if (pa_simple_read(stream.get(), block.data(), block.size() * 2, &error) < 0) {
            return -1.0;
        }
        if (elapsedMs < skipMs) {
            continue;
        }
        double sum = 0.0;
        for (std::int16_t sample : block) {
            sum += double(sample) * double(sample);
        }
        loudest = std::max(loudest, std::sqrt(sum / double(block.size())) / 32768.0);
    }
    return loudest;
}

} // namespace orvo::test
