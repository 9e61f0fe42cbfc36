#include "platform/linux/capture/LiveMixSegment.h"

#include <QFile>
#include <QtGlobal>

#include "platform/linux/capture/AacSegmentWriter.h"
#include "platform/linux/capture/AudioWriteStage.h"
#include "platform/linux/capture/EchoFreeSideStage.h"
#include "platform/linux/media/AudioMixer.h"

namespace orvo {

namespace {
// As long a stall of the disk as each side's own stage rides out.
constexpr std::int64_t queueFrames = 15 * AacSegmentWriter::sampleRate;
} // namespace

LiveMixSegment::LiveMixSegment(QString path, int bitRate, int sources,
                               std::optional<EchoFreeNearSide> echoFree)
    : path_(std::move(path)), bitRate_(bitRate), sources_(sources), echoFree_(std::move(echoFree)),
      mix_(
          sources, windowFrames,
          [this](const float* interleaved, std::int64_t frames) { write(interleaved, frames); },
          echoFree_ && sources >= 2
              ? LiveAudioMix::SidesOutput(
                    [this](const auto& sides, std::int64_t frames) { writeSides(sides, frames); })
              : nullptr) {}

LiveMixSegment::~LiveMixSegment() = default;

void LiveMixSegment::begin(int source, const RecordingClock& clock,
                           RecordingClock::Clock::time_point start) {
    std::lock_guard lock(openMutex_);
    if (!opened_) {
        opened_ = true;
        start_ = start;
        open(clock, start);
    }
    // A side that began later than the first lies that much further on the mix's timeline.
    const auto late = std::chrono::duration_cast<std::chrono::microseconds>(start - start_);
    mix_.start(source, late.count() * AacSegmentWriter::sampleRate / 1000000);
}

void LiveMixSegment::open(const RecordingClock& clock, RecordingClock::Clock::time_point start) {
    auto writer = std::make_unique<AacSegmentWriter>();
    if (auto error = writer->open(path_, "ipod", bitRate_, clock.epochMicroseconds(start))) {
        fail(*error);
        return;
    }
    if (auto error = limiter_.open(AudioMixer::ceiling)) {
        writer->finish();
        fail(*error);
        return;
    }
    stage_ = std::make_unique<AudioWriteStage>(std::move(writer), queueFrames);
    openEchoFree(clock, start);
}

void LiveMixSegment::openEchoFree(const RecordingClock& clock,
                                  RecordingClock::Clock::time_point start) {
    if (!echoFree_ || sources_ < 2) {
        return;
    }
    QString error;
    echoFreeStage_ = EchoFreeSideStage::open(echoFree_->path, echoFree_->canceller,
                                             clock.epochMicroseconds(start), &error);
    if (!echoFreeStage_) {
        qWarning("No echo-free side %s: %s", qPrintable(echoFree_->path), qPrintable(error));
    }
}

void LiveMixSegment::add(int source, const float* interleaved, std::int64_t frames) {
    if (!failed_) {
        mix_.add(source, interleaved, frames);
    }
}

void LiveMixSegment::end(int source) {
    if (mix_.end(source)) {
        finish();
    }
}

void LiveMixSegment::write(const float* interleaved, std::int64_t frames) {
    if (failed_ || !stage_) {
        return;
    }
    limited_.clear();
    auto error = limiter_.process(interleaved, frames, limited_);
    if (!error) {
        error = stage_->write(limited_.data(), std::int64_t(limited_.size()) / 2);
    }
    if (error) {
        fail(*error);
    }
}

void LiveMixSegment::writeSides(const std::vector<std::vector<float>>& sides, std::int64_t frames) {
    if (!echoFreeStage_) {
        return;
    }
    if (auto error = echoFreeStage_->add(sides[0].data(), sides[1].data(), frames)) {
        qWarning("The echo-free side %s stops here: %s", qPrintable(echoFree_->path),
                 qPrintable(*error));
        echoFreeStage_.reset();
    }
}

void LiveMixSegment::finishEchoFree(bool missedSound) {
    if (!echoFreeStage_) {
        return;
    }
    // Without a side's sound the stage had nothing to clean, or nothing to clean it by.
    if (missedSound) {
        echoFreeStage_.reset();
    } else if (auto error = echoFreeStage_->finish()) {
        qWarning("The echo-free side %s stops here: %s", qPrintable(echoFree_->path),
                 qPrintable(*error));
    }
}

void LiveMixSegment::finish() {
    if (!stage_) {
        return;
    }
    // Every side has ended, so nothing writes meanwhile.
    limited_.clear();
    std::optional<QString> error = failed_ ? std::nullopt : limiter_.flush(limited_);
    if (!error && !failed_) {
        error = stage_->write(limited_.data(), std::int64_t(limited_.size()) / 2);
    }
    const auto closing = stage_->finish();
    if (auto failure = error ? error : closing) {
        fail(*failure);
    }
    bool missedSound = false;
    for (int source = 0; source < sources_; ++source) {
        if (const auto late = mix_.lateFrames(source); late > 0) {
            qWarning("The mixed track went on without side %d for %.2f s", source,
                     double(late) / AacSegmentWriter::sampleRate);
        }
        missedSound = missedSound || mix_.lateAudibleFrames(source) > 0;
    }
    if (missedSound) {
        qWarning("The mixed track %s misses sound and is removed", qPrintable(path_));
        QFile::remove(path_);
    }
    finishEchoFree(missedSound || failed_);
}

void LiveMixSegment::fail(const QString& error) {
    if (!failed_.exchange(true)) {
        qWarning("The mixed track %s stops here: %s", qPrintable(path_), qPrintable(error));
    }
}

} // namespace orvo
