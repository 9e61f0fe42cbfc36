#include "transcription/Recognizer.h"

#include <algorithm>
#include <utility>

#include <QLocale>

#include "platform/Media.h"
#include "platform/Platform.h"
#include "shell/Console.h"
#include "shell/Localization.h"
#include "shell/Logging.h"
#include "shell/SettingsManager.h"
#include "transcription/SpeakerTranscript.h"

namespace orvo {

namespace {

// The titles our recorder gives the tracks of the sides, and the keys of their speakers' words.
struct SideTrack {
    const char* title;
    const char* speakerKey;
    bool near;
};
constexpr SideTrack sideTracks[] = {{"You", "SPEAKER_YOU", true}, {"Them", "SPEAKER_THEM", false}};

} // namespace

std::shared_ptr<Recognizer> Recognizer::create(const std::optional<QString>& fileUrl) {
    if (!fileUrl) {
        Logging::write(QStringLiteral("Recognizer url file = nil"), EventLoging::error);
        return nullptr;
    }
    const QLocale locale;
    auto* speechRecognizer = Platform::shared().find<SpeechRecognizer>();
    if (speechRecognizer == nullptr || !speechRecognizer->supportsLocale(locale)) {
        Logging::write(QStringLiteral("Recognizer obj not create. Locale: ") + locale.name(),
                       EventLoging::error);
        return nullptr;
    }
    return std::make_shared<Recognizer>(Token{}, *speechRecognizer, locale, *fileUrl);
}

Recognizer::Recognizer(Token, SpeechRecognizer& speechRecognizer, QLocale locale, QString filePath)
    : speechRecognizer_(speechRecognizer), locale_(std::move(locale)),
      filePath_(std::move(filePath)) {}

Recognizer::~Recognizer() {
    consoleLine(QStringLiteral("Recognizer deinit"));
}

void Recognizer::findSides() {
    sides_.clear();
    if (auto* media = Platform::shared().find<Media>()) {
        const MediaAsset asset = media->loadAsset(filePath_);
        durationSeconds_ = asset.durationSeconds;
        userOutput_ = asset.userOutput;
        echoRemoved_ = asset.nearSideEchoRemoved;
        for (const auto& side : sideTracks) {
            if (const auto track = asset.audioTrackTitled(QLatin1String(side.title))) {
                sides_.push_back({Localization::text(QLatin1String(side.speakerKey)),
                                  track->streamIndex, side.near, nullptr, 0, std::nullopt});
            }
        }
    }
    if (sides_.empty()) {
        sides_.push_back(Side{});
    }
}

void Recognizer::recognizerText() {
    findSides();
    const auto far = std::find_if(sides_.begin(), sides_.end(), [](const Side& side) {
        return !side.speaker.isEmpty() && !side.near && side.streamIndex;
    });
    // Headphones keep the other side out of the microphone: the echo stage would only cost
    // time and may take some of the user's words.
    const bool heardOnHeadphones = far != sides_.end() && isWorn(userOutput_);
    if (heardOnHeadphones) {
        consoleLine(QStringLiteral("The call was heard on %1: You is transcribed as recorded, "
                                   "without the echo stage")
                        .arg(outputKindName(userOutput_)));
    }
    // A file whose near side lost the echo already is read as it is.
    const bool withoutEcho = far != sides_.end() && !heardOnHeadphones && !echoRemoved_ &&
                             SettingsManager::shared().removesEcho();
    for (std::size_t i = 0; i < sides_.size(); ++i) {
        // The handlers hold the recognizer until the tasks have delivered their last calls.
        auto handler = [self = shared_from_this(), i](std::optional<SpeechResult> result,
                                                      std::optional<SpeechError> error) {
            self->handleResult(i, result, error);
        };
        sides_[i].task =
            withoutEcho && sides_[i].near
                ? speechRecognizer_.recognitionTaskWithoutEcho(
                      locale_, filePath_, sides_[i].streamIndex, *far->streamIndex, true,
                      std::move(handler))
                : speechRecognizer_.recognitionTask(locale_, filePath_, sides_[i].streamIndex, true,
                                                    std::move(handler));
    }
}

void Recognizer::recognizerCancel() {
    for (auto& side : sides_) {
        if (side.task) {
            side.task->cancel();
        }
    }
}

void Recognizer::finishAll() {
    for (auto& side : sides_) {
        if (side.task) {
            // A side still working would keep a core busy for nothing.
            side.task->cancel();
            side.task->finish();
        }
    }
}

void Recognizer::handleResult(std::size_t index, const std::optional<SpeechResult>& result,
                              const std::optional<SpeechError>& error) {
    Side& side = sides_[index];
    if (side.task && side.task->isCancelled()) {
        Logging::write(QStringLiteral("Recognizer cancel"), EventLoging::info);
        finishAll();
        return;
    }
    if (!result) {
        finishAll();
        if (complitedRecognizer) {
            complitedRecognizer(std::nullopt, error);
        }
        return;
    }
    const double lastSeconds =
        result->segments.empty() ? 0 : result->segments.back().timestampSeconds;
    if (side.speaker.isEmpty()) {
        if (lastSeconds != 0 && progressRecognizer) {
            progressRecognizer(lastSeconds);
        }
        if (result->isFinal) {
            finalSegments_ = result->segments;
            finishAll();
            if (complitedRecognizer) {
                complitedRecognizer(result->formattedString, std::nullopt);
            }
        }
        return;
    }
    side.positionSeconds = std::max(side.positionSeconds, lastSeconds);
    if (result->isFinal) {
        side.finalResult = *result;
        side.positionSeconds = std::max(side.positionSeconds, durationSeconds_);
    }
    // The sides run at once: the file is as far done as their positions on average.
    double sumSeconds = 0;
    for (const auto& each : sides_) {
        sumSeconds += each.positionSeconds;
    }
    if (sumSeconds != 0 && progressRecognizer) {
        progressRecognizer(sumSeconds / static_cast<double>(sides_.size()));
    }
    if (std::all_of(sides_.begin(), sides_.end(),
                    [](const Side& each) { return each.finalResult.has_value(); })) {
        completeSides();
    }
}

void Recognizer::completeSides() {
    std::vector<std::vector<SpeechSegment>> words;
    for (const auto& side : sides_) {
        words.push_back(side.finalResult->segments);
        for (auto& word : words.back()) {
            word.speaker = side.speaker;
        }
    }
    finalSegments_ = SpeakerTranscript::merged(words);
    finishAll();
    if (complitedRecognizer) {
        complitedRecognizer(SpeakerTranscript::text(finalSegments_), std::nullopt);
    }
}

} // namespace orvo
