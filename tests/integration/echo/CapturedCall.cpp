#include "integration/echo/CapturedCall.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include <QFileInfo>

#include "integration/platform/ExportWait.h"
#include "platform/Platform.h"
#include "platform/linux/capture/AacSegmentWriter.h"
#include "platform/linux/capture/LiveMixSegment.h"
#include "recording/SegmentTracks.h"
#include "support/SyntheticCall.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace orvo::test {
namespace {

// What the capture hands on: interleaved stereo at its rate.
std::vector<float> asCaptured(const std::vector<float>& samples) {
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* raw = nullptr;
    swr_alloc_set_opts2(&raw, &stereo, AV_SAMPLE_FMT_FLT, AacSegmentWriter::sampleRate, &mono,
                        AV_SAMPLE_FMT_FLT, SyntheticCall::rate, 0, nullptr);
    const ffmpeg::Resampler resampler(raw);
    if (resampler == nullptr || swr_init(resampler.get()) < 0) {
        return {};
    }
    const int room = swr_get_out_samples(resampler.get(), int(samples.size())) + 64;
    std::vector<float> out(std::size_t(room) * 2);
    auto* to = reinterpret_cast<std::uint8_t*>(out.data());
    const auto* from = reinterpret_cast<const std::uint8_t*>(samples.data());
    int written = swr_convert(resampler.get(), &to, room, &from, int(samples.size()));
    if (written >= 0) {
        to = reinterpret_cast<std::uint8_t*>(out.data() + std::size_t(written) * 2);
        const int rest = swr_convert(resampler.get(), &to, room - written, nullptr, 0);
        written = rest >= 0 ? written + rest : rest;
    }
    out.resize(written >= 0 ? std::size_t(written) * 2 : 0);
    return out;
}

} // namespace

bool recordAsCaptured(const QString& path, const std::vector<float>& you,
                      const std::vector<float>& them, bool removeEcho) {
    const QString stamp = QFileInfo(path).path() + "/" + QFileInfo(path).completeBaseName();
    const std::vector<QString> segments{stamp + "_0.m4a", stamp + "_1.m4a", stamp + "_mix.m4a",
                                        stamp + "_echofree.m4a"};
    const std::array sides{asCaptured(you), asCaptured(them)};
    RecordingClock clock;
    const auto start = clock.recordingStart();
    std::optional<EchoFreeNearSide> echoFree;
    if (removeEcho) {
        echoFree.emplace(EchoFreeNearSide{segments[3], Platform::shared().get<EchoCanceller>()});
    }
    LiveMixSegment mix(segments[2], 128000, 2, echoFree);
    std::array<AacSegmentWriter, 2> writers;
    for (std::size_t side = 0; side < 2; ++side) {
        if (writers[side].open(segments[side], "ipod", 0, clock.epochMicroseconds(start),
                               AacSegmentWriter::Layout::speechMono)) {
            return false;
        }
        mix.begin(int(side), clock, start);
    }
    // A block of 20 ms at a time, each side in turn, as the capture's threads deliver them; ten
    // times as fast as a call goes, which leaves the echo stage's thread its time to keep up.
    constexpr std::size_t block = 960 * 2;
    const auto began = std::chrono::steady_clock::now();
    for (std::size_t at = 0; at < std::max(sides[0].size(), sides[1].size()); at += block) {
        std::this_thread::sleep_until(
            began + std::chrono::microseconds(at / 2 * 100000 / AacSegmentWriter::sampleRate));
        for (std::size_t side = 0; side < 2; ++side) {
            const std::size_t count =
                std::min(block, sides[side].size() - std::min(at, sides[side].size()));
            if (count == 0) {
                continue;
            }
            const float* samples = sides[side].data() + at;
            if (writers[side].write(samples, std::int64_t(count / 2))) {
                return false;
            }
            mix.add(int(side), samples, std::int64_t(count / 2));
        }
    }
    for (std::size_t side = 0; side < 2; ++side) {
        if (writers[side].finish()) {
            return false;
        }
        mix.end(int(side));
    }
    MediaComposition composition;
    const auto layout = SegmentTracks::read(segments).compose(composition, true);
    auto session =
        Platform::shared().get<Media>().makeExportSession(composition, exportPresetPassthrough);
    if (!layout.anyMedia || !layout.remux || session == nullptr) {
        return false;
    }
    session->setOutputFileType(MediaFileType::appleM4A);
    session->setOutputPath(path);
    return exportAndWait(*session).status == ExportStatus::completed;
}

} // namespace orvo::test
