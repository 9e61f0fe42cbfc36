#include "platform/linux/speech/EchoFreeSpeechAudio.h"

#include <algorithm>
#include <cstdio>

namespace orvo {
namespace {

// What is read of each track before the two are put side by side: a second.
constexpr std::size_t chunk = SpeechAudioDecoder::sampleRate;

std::vector<float> toFloat(const std::vector<std::int16_t>& samples, std::size_t count) {
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = i < samples.size() ? float(samples[i]) / 32768.0f : 0.0f;
    }
    return out;
}

void appendShort(const std::vector<float>& samples, std::vector<std::int16_t>& out) {
    for (const float sample : samples) {
        out.push_back(std::int16_t(std::clamp(sample * 32768.0f, -32768.0f, 32767.0f)));
    }
}

} // namespace

std::optional<QString> EchoFreeSpeechAudio::open(const QString& path, std::optional<int> nearStream,
                                                 std::optional<int> farStream,
                                                 std::shared_ptr<EchoCancellation> cancellation) {
    cancellation_ = std::move(cancellation);
    if (auto error = near_.open(path, nearStream)) {
        return error;
    }
    if (!farStream || cancellation_ == nullptr || far_.open(path, *farStream)) {
        farMore_ = false;
        cancellation_.reset();
    }
    return std::nullopt;
}

void EchoFreeSpeechAudio::fill(SpeechAudioDecoder& decoder, std::vector<std::int16_t>& pending,
                               bool& more) {
    while (more && pending.size() < chunk) {
        more = decoder.read(pending);
    }
}

bool EchoFreeSpeechAudio::read(std::vector<std::int16_t>& samples) {
    fill(near_, nearPending_, nearMore_);
    if (cancellation_ == nullptr) {
        samples.insert(samples.end(), nearPending_.begin(), nearPending_.end());
        nearPending_.clear();
        return nearMore_;
    }
    fill(far_, farPending_, farMore_);
    // The far side ends early when its player stopped: silence stands in for the rest.
    const std::size_t count =
        farMore_ ? std::min(nearPending_.size(), farPending_.size()) : nearPending_.size();
    const auto done =
        cancellation_->push(toFloat(nearPending_, count), toFloat(farPending_, count));
    appendShort(done, samples);
    nearPending_.erase(nearPending_.begin(), nearPending_.begin() + std::ptrdiff_t(count));
    farPending_.erase(farPending_.begin(),
                      farPending_.begin() + std::ptrdiff_t(std::min(count, farPending_.size())));
    if (nearMore_ || !nearPending_.empty()) {
        return true;
    }
    appendShort(cancellation_->finish(), samples);
    return false;
}

} // namespace orvo
