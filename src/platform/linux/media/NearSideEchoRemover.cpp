#include "platform/linux/media/NearSideEchoRemover.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

#include <QFile>

#include "platform/linux/media/AacTrackEncoder.h"
#include "platform/linux/media/AudioTrackDecoder.h"
#include "platform/linux/media/FFmpegHandles.h"

namespace orvo {
namespace {

constexpr int fallbackRate = 48000;

// What the muxer writes of its own: copied, they would come back as tags of ours.
bool isMuxersOwn(const char* key) {
    for (const char* own : {"major_brand", "minor_version", "compatible_brands", "encoder"}) {
        if (qstrcmp(key, own) == 0) {
            return true;
        }
    }
    return false;
}

ffmpeg::FileTags tagsOf(const AVFormatContext* input) {
    ffmpeg::FileTags tags;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(input->metadata, "", entry, AV_DICT_IGNORE_SUFFIX)) != nullptr) {
        if (!isMuxersOwn(entry->key)) {
            tags[entry->key] = entry->value;
        }
    }
    tags[ffmpeg::nearSideEchoKey] = ffmpeg::echoRemovedValue;
    return tags;
}

void labelLike(AVStream* stream, const AVStream* source) {
    av_dict_copy(&stream->metadata, source->metadata, 0);
    stream->disposition = source->disposition;
}

// The file's streams, in their order; the near side's made by encoder, the others copied.
// outputOf: each input stream's output stream, -1 for one left out.
std::optional<QString> addStreams(const AVFormatContext* input, int nearStream, int rate,
                                  double nearStart, ffmpeg::FormatWriter& writer,
                                  AacTrackEncoder& encoder, std::vector<int>& outputOf) {
    outputOf.assign(input->nb_streams, -1);
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream* source = input->streams[i];
        const AVMediaType type = source->codecpar->codec_type;
        if (int(i) == nearStream) {
            const std::int64_t bitRate =
                source->codecpar->bit_rate > 0
                    ? std::clamp<std::int64_t>(source->codecpar->bit_rate, 32000, 256000)
                    : 96000;
            if (auto error =
                    encoder.open(writer, 1, rate, bitRate, std::llround(nearStart * rate))) {
                return error;
            }
            labelLike(writer.context()->streams[encoder.streamIndex()], source);
            outputOf[i] = encoder.streamIndex();
        } else if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO) {
            AVStream* copied = ffmpeg::addCopiedStream(writer, source);
            if (copied == nullptr) {
                return QStringLiteral("cannot add a stream");
            }
            labelLike(copied, source);
            outputOf[i] = copied->index;
        }
    }
    return std::nullopt;
}

std::optional<QString> copyOtherTracks(AVFormatContext* input, int nearStream,
                                       const std::vector<int>& outputOf,
                                       ffmpeg::FormatWriter& writer,
                                       const std::atomic<bool>& cancelled) {
    ffmpeg::Packet packet = ffmpeg::makePacket();
    int result = 0;
    while ((result = ffmpeg::readFrame(input, packet.get())) >= 0) {
        const int stream = packet->stream_index;
        std::optional<QString> error;
        if (cancelled.load()) {
            error = QStringLiteral("cancelled");
        } else if (stream != nearStream && outputOf[std::size_t(stream)] >= 0) {
            packet->pos = -1;
            error = writer.write(packet.get(), input->streams[stream]->time_base,
                                 outputOf[std::size_t(stream)]);
        }
        av_packet_unref(packet.get());
        if (error) {
            return error;
        }
    }
    return result == AVERROR_EOF
               ? std::nullopt
               : std::optional(QStringLiteral("cannot read: %1").arg(ffmpeg::errorText(result)));
}

// Both sides, a second at a time, on the file's clock.
class Sides {
public:
    std::optional<QString> open(const QString& path, int nearStream, int farStream, int rate) {
        rate_ = rate;
        using Format = AudioTrackDecoder::Format;
        if (auto error = near_.open(path, nearStream, rate, Format::float32)) {
            return error;
        }
        if (auto error = far_.open(path, farStream, rate, Format::float32)) {
            return error;
        }
        // The later side starts with silence where the other already sounds.
        const auto shift = std::lround((far_.startSeconds() - near_.startSeconds()) * rate);
        if (shift > 0) {
            farPending_.assign(std::size_t(shift), 0.0f);
        } else {
            farSkip_ = std::size_t(-shift);
        }
        return std::nullopt;
    }

    // The next stretch of both, as many samples each; false once the near side has ended.
    bool next(std::vector<float>& near, std::vector<float>& far) {
        fill(near_, nearPending_, nearMore_);
        fill(far_, farPending_, farMore_);
        const std::size_t dropped = std::min(farSkip_, farPending_.size());
        farPending_.erase(farPending_.begin(), farPending_.begin() + std::ptrdiff_t(dropped));
        farSkip_ -= dropped;
        const std::size_t count = nearPending_.size();
        near.assign(nearPending_.begin(), nearPending_.end());
        // The far side ends early when its player stopped: silence stands in for the rest.
        far.assign(count, 0.0f);
        const std::size_t farCount = std::min(count, farPending_.size());
        std::copy_n(farPending_.begin(), farCount, far.begin());
        nearPending_.clear();
        farPending_.erase(farPending_.begin(), farPending_.begin() + std::ptrdiff_t(farCount));
        return count > 0 || nearMore_;
    }

    std::optional<QString> error() const { return near_.error() ? near_.error() : far_.error(); }

private:
    void fill(AudioTrackDecoder& decoder, std::vector<float>& pending, bool& more) {
        while (more && pending.size() < std::size_t(rate_)) {
            more = decoder.read(pending);
        }
    }

    int rate_ = fallbackRate;
    AudioTrackDecoder near_;
    AudioTrackDecoder far_;
    std::vector<float> nearPending_;
    std::vector<float> farPending_;
    std::size_t farSkip_ = 0;
    bool nearMore_ = true;
    bool farMore_ = true;
};

std::optional<QString> encode(const std::vector<float>& samples, AacTrackEncoder& encoder,
                              ffmpeg::FormatWriter& writer) {
    const auto* plane = reinterpret_cast<const std::uint8_t*>(samples.data());
    return encoder.write(&plane, int(samples.size()), writer);
}

std::optional<QString> writeNearSide(Sides& sides, EchoCancellation& cancellation,
                                     AacTrackEncoder& encoder, ffmpeg::FormatWriter& writer,
                                     const std::atomic<bool>& cancelled) {
    std::vector<float> near;
    std::vector<float> far;
    while (sides.next(near, far)) {
        if (cancelled.load()) {
            return QStringLiteral("cancelled");
        }
        if (auto error = encode(cancellation.push(near, far), encoder, writer)) {
            return error;
        }
    }
    if (auto error = sides.error()) {
        return error;
    }
    if (auto error = encode(cancellation.finish(), encoder, writer)) {
        return error;
    }
    return encoder.finish(writer);
}

EchoFreeCopy writeCopy(const QString& source, const QString& destination, int nearStream,
                       int farStream, EchoCanceller& canceller,
                       const std::atomic<bool>& cancelled) {
    QString error;
    const ffmpeg::InputContext input = ffmpeg::openInput(source, &error);
    if (!input) {
        return {error, {}};
    }
    const auto streams = int(input->nb_streams);
    if (nearStream < 0 || nearStream >= streams || farStream < 0 || farStream >= streams ||
        nearStream == farStream) {
        return {QStringLiteral("%1 has no such sides").arg(source), {}};
    }
    int rate = input->streams[nearStream]->codecpar->sample_rate;
    std::unique_ptr<EchoCancellation> cancellation = canceller.start(rate, EchoSides::decoded);
    if (cancellation == nullptr) {
        rate = fallbackRate;
        cancellation = canceller.start(rate, EchoSides::decoded);
    }
    Sides sides;
    if (cancellation == nullptr) {
        return {QStringLiteral("no echo cancellation at %1 Hz").arg(rate), {}};
    }
    if (auto failed = sides.open(source, nearStream, farStream, rate)) {
        return {failed, {}};
    }
    const AVStream* nearSource = input->streams[nearStream];
    const double nearStart = nearSource->start_time == AV_NOPTS_VALUE
                                 ? 0.0
                                 : double(nearSource->start_time) * av_q2d(nearSource->time_base);
    ffmpeg::FormatWriter writer;
    AacTrackEncoder encoder;
    std::vector<int> outputOf;
    const char* muxer =
        source.endsWith(QStringLiteral(".mov"), Qt::CaseInsensitive) ? "mov" : "ipod";
    std::optional<QString> failed = writer.open(destination, muxer);
    if (!failed) {
        failed = addStreams(input.get(), nearStream, rate, nearStart, writer, encoder, outputOf);
    }
    if (!failed) {
        failed = writer.begin(false, tagsOf(input.get()));
    }
    // The other tracks first: the near side comes out a stretch behind what is read, and the
    // muxer would hold every other track's packets that long.
    if (!failed) {
        failed = copyOtherTracks(input.get(), nearStream, outputOf, writer, cancelled);
    }
    if (!failed) {
        failed = writeNearSide(sides, *cancellation, encoder, writer, cancelled);
    }
    if (!failed) {
        failed = writer.finish();
    }
    return {failed, cancellation->delaysMs()};
}

} // namespace

EchoFreeCopy NearSideEchoRemover::write(const QString& source, const QString& destination,
                                        int nearStream, int farStream, EchoCanceller& canceller,
                                        const std::atomic<bool>& cancelled) {
    EchoFreeCopy copy = writeCopy(source, destination, nearStream, farStream, canceller, cancelled);
    // Without an echo heard the near side came out as it went in: the file stays as it is.
    if (copy.error || copy.delaysMs.empty()) {
        QFile::remove(destination);
    }
    return copy;
}

} // namespace orvo
