#include "platform/linux/sound/PulseRecordStream.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace orvo {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds fragment{20};
// How often a stream asks the server for a timing report: one older than timingRefresh is
// renewed, and none is asked for within timingRequestInterval of the last request.
constexpr std::chrono::milliseconds timingRefresh{100};
constexpr std::chrono::milliseconds timingRequestInterval{50};
// Sixty decibels over full scale: far above any sound, far below what stops the encoder.
constexpr float loudestSample = 1000.0f;

QString contextError(pa_context* context) {
    return QString::fromUtf8(pa_strerror(pa_context_errno(context)));
}

} // namespace

std::optional<QString> PulseRecordStream::open(const QString& sourceName) {
    // Opened again after a failure: the old stream goes before its connection.
    stream_.reset();
    lastTimingRequest_.reset();
    if (auto error =
            connection_.connect("ORVO capture", std::nullopt, std::chrono::milliseconds(3000),
                                PulseSession::Drive::byOwner)) {
        return error;
    }
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(sampleRate),
                              std::uint8_t(channels)};
    stream_.reset(pa_stream_new(connection_.context(), "ORVO recording", &spec, nullptr));
    if (!stream_) {
        return contextError(connection_.context());
    }
    pa_buffer_attr attributes{};
    attributes.maxlength = std::uint32_t(-1);
    attributes.fragsize = std::uint32_t(pa_usec_to_bytes(
        std::chrono::duration_cast<std::chrono::microseconds>(fragment).count(), &spec));
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
    const QByteArray name = sourceName.toUtf8();
    if (pa_stream_connect_record(stream_.get(), name.constData(), &attributes, flags) < 0) {
        return QStringLiteral("cannot record from %1: %2")
            .arg(sourceName, contextError(connection_.context()));
    }
    const auto settled = [this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_.get());
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    };
    if (!connection_.runUntil(settled, std::chrono::milliseconds(3000))) {
        return QStringLiteral("the sound server does not start recording from %1").arg(sourceName);
    }
    if (pa_stream_get_state(stream_.get()) != PA_STREAM_READY) {
        return QStringLiteral("cannot record from %1: %2")
            .arg(sourceName, contextError(connection_.context()));
    }
    return std::nullopt;
}

void PulseRecordStream::read(const ChunkHandler& handler) {
    connection_.drain();
    // Everything that arrived goes out as one chunk: some sources deliver a few frames at a
    // time, and the count, not each arrival, places them.
    batch_.clear();
    std::optional<Clock::time_point> captured;
    while (!failure() && pa_stream_readable_size(stream_.get()) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_.get(), &data, &bytes) < 0 || bytes == 0) {
            break;
        }
        const std::size_t samples = bytes / sizeof(float);
        if (!captured) {
            captured = Clock::now() - ageOfOldestFrame();
        }
        if (data == nullptr) {
            // A hole in the stream: silence of the same length keeps the count right.
            batch_.resize(batch_.size() + samples, 0.0f);
        } else {
            const auto* first = static_cast<const float*>(data);
            const auto from = std::ptrdiff_t(batch_.size());
            batch_.insert(batch_.end(), first, first + samples);
            // Sources pass on what their clients play, numbers or not, sound or not (PipeWire's
            // loopback as it starts, once no numbers, once numbers far beyond any sound). One
            // such sample stops the encoder, and the echo canceller's filter would carry it on
            // to the end.
            std::replace_if(
                batch_.begin() + from, batch_.end(),
                [](float s) { return !(std::abs(s) <= loudestSample); }, 0.0f);
        }
        pa_stream_drop(stream_.get());
    }
    if (captured && !batch_.empty()) {
        handler(batch_.data(), std::int64_t(batch_.size() / channels), *captured);
    }
}

std::chrono::microseconds PulseRecordStream::ageOfOldestFrame() {
    const pa_sample_spec* spec = pa_stream_get_sample_spec(stream_.get());
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_.get());
    // Only a report taken while the source delivered says when audio was captured: one
    // taken before a slow source started would place its audio early by the wait.
    const bool trusted = timing != nullptr && timing->playing != 0 && timing->write_index > 0 &&
                         timing->read_index_corrupt == 0 && timing->write_index_corrupt == 0;
    if (!trusted) {
        askForTiming();
        return std::chrono::microseconds(
            pa_bytes_to_usec(pa_stream_readable_size(stream_.get()), spec));
    }
    // A monitor posts its sink's audio a block at a time, so one report can be off by up to a
    // block; fresh reports spread that error for the timeline's median to remove.
    const auto reportAge = std::int64_t(pa_timeval_age(&timing->timestamp));
    if (reportAge > std::chrono::microseconds(timingRefresh).count()) {
        askForTiming();
    }
    // When the report was made, the newest frame the server had was source_usec old (and a
    // monitor's audio is heard sink_usec later); ours lies (write - read) bytes before it.
    const std::int64_t behindNewest =
        std::int64_t(pa_bytes_to_usec(
            std::uint64_t(std::llabs(timing->write_index - timing->read_index)), spec)) *
        (timing->write_index >= timing->read_index ? 1 : -1);
    return std::chrono::microseconds(reportAge + std::int64_t(timing->source_usec) -
                                     std::int64_t(timing->sink_usec) + behindNewest);
}

void PulseRecordStream::askForTiming() {
    const auto now = Clock::now();
    if (lastTimingRequest_ && now - *lastTimingRequest_ < timingRequestInterval) {
        return;
    }
    lastTimingRequest_ = now;
    if (pa_operation* operation = pa_stream_update_timing_info(stream_.get(), nullptr, nullptr)) {
        pa_operation_unref(operation);
    }
}

std::optional<QString> PulseRecordStream::failure() const {
    if (!stream_) {
        return QStringLiteral("the stream is not open");
    }
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream_.get())) ||
        !PA_CONTEXT_IS_GOOD(pa_context_get_state(connection_.context()))) {
        return QStringLiteral("the sound server ended the recording: %1")
            .arg(contextError(connection_.context()));
    }
    return std::nullopt;
}

} // namespace orvo
