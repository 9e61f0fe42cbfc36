#include "platform/linux/sound/PulseSourceKeeper.h"

#include <chrono>

namespace orvo {
namespace {

// The block the source is rendered in while only this reader reads it: what a new reader may
// wait for its first audio. Longer blocks cost a start more; shorter ones wake the server more
// often while the program sits idle.
constexpr pa_usec_t block = 100'000;

void dropAll(pa_stream* stream, size_t, void*) {
    const void* data = nullptr;
    size_t bytes = 0;
    while (pa_stream_readable_size(stream) > 0 && pa_stream_peek(stream, &data, &bytes) == 0) {
        // Neither audio nor a hole: nothing is left.
        if (bytes == 0 && data == nullptr) {
            break;
        }
        pa_stream_drop(stream);
    }
}

} // namespace

PulseSourceKeeper::PulseSourceKeeper(const QString& sourceName) : reading_(connect(sourceName)) {}

bool PulseSourceKeeper::connect(const QString& sourceName) {
    if (session_.connect("ORVO keeper", std::nullopt, std::chrono::milliseconds(3000),
                         PulseSession::Drive::ownThread)) {
        return false;
    }
    const QByteArray name = sourceName.toUtf8();
    const auto ready = [this] {
        return stream_ && pa_stream_get_state(stream_.get()) == PA_STREAM_READY;
    };
    const auto start = [&] {
        // The recorder's own format: nothing to convert for a source made for it.
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(PulseRecordStream::sampleRate),
                                  std::uint8_t(PulseRecordStream::channels)};
        stream_.reset(pa_stream_new(session_.context(), "ORVO keeper", &spec, nullptr));
        if (!stream_) {
            return;
        }
        pa_stream_set_read_callback(stream_.get(), dropAll, nullptr);
        pa_stream_set_state_callback(
            stream_.get(),
            [](pa_stream*, void* session) { static_cast<PulseSession*>(session)->wake(); },
            &session_);
        pa_buffer_attr attributes{};
        attributes.maxlength = std::uint32_t(-1);
        attributes.fragsize = std::uint32_t(pa_usec_to_bytes(block, &spec));
        if (pa_stream_connect_record(stream_.get(), name.constData(), &attributes,
                                     PA_STREAM_ADJUST_LATENCY) < 0) {
            stream_.reset();
        }
    };
    const auto settled = [this] {
        return !stream_ || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_.get())) ||
               pa_stream_get_state(stream_.get()) == PA_STREAM_READY;
    };
    return session_.startAndWait(start, settled) && ready();
}

PulseSourceKeeper::~PulseSourceKeeper() {
    // The stream goes under the loop's lock, before its session.
    session_.startAndWait([this] { stream_.reset(); }, [] { return true; });
}

} // namespace orvo
