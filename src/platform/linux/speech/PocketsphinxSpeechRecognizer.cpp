#include "platform/linux/speech/PocketsphinxSpeechRecognizer.h"

#include "platform/EchoCanceller.h"
#include "platform/Platform.h"
#include "platform/linux/speech/SpeechAudioDecoder.h"

#include <QFileInfo>

namespace orvo {

PocketsphinxSpeechRecognizer::PocketsphinxSpeechRecognizer(QString modelRoot)
    : modelRoot_(std::move(modelRoot)) {}

PocketsphinxSpeechRecognizer::~PocketsphinxSpeechRecognizer() {
    retired_->join(true);
}

std::optional<PocketsphinxModel>
PocketsphinxSpeechRecognizer::modelFor(const QLocale& locale) const {
    // The C locale of a bare system speaks English, as its messages do.
    if (locale.language() != QLocale::English && locale.language() != QLocale::C) {
        return std::nullopt;
    }
    const QString folder = modelRoot_ + QStringLiteral("/en-us");
    PocketsphinxModel model{folder + QStringLiteral("/en-us"),
                            folder + QStringLiteral("/en-us.lm.bin"),
                            folder + QStringLiteral("/cmudict-en-us.dict")};
    if (!QFileInfo(model.acousticModelDir).isDir() || !QFileInfo::exists(model.languageModelFile) ||
        !QFileInfo::exists(model.dictionaryFile)) {
        return std::nullopt;
    }
    return model;
}

bool PocketsphinxSpeechRecognizer::supportsLocale(const QLocale& locale) const {
    return modelFor(locale).has_value();
}

std::unique_ptr<SpeechRecognitionTask>
PocketsphinxSpeechRecognizer::recognitionTask(const QLocale& locale, const QString& filePath,
                                              std::optional<int> audioStreamIndex,
                                              bool reportPartialResults, ResultHandler handler) {
    auto model = modelFor(locale);
    if (!model) {
        return nullptr;
    }
    retired_->join(false);
    return std::make_unique<PocketsphinxTask>(
        retired_, std::move(*model),
        PocketsphinxTask::Source{filePath, audioStreamIndex, std::nullopt, nullptr},
        reportPartialResults, std::move(handler));
}

std::unique_ptr<SpeechRecognitionTask> PocketsphinxSpeechRecognizer::recognitionTaskWithoutEcho(
    const QLocale& locale, const QString& filePath, std::optional<int> audioStreamIndex,
    int farStreamIndex, bool reportPartialResults, ResultHandler handler) {
    auto model = modelFor(locale);
    auto* canceller = Platform::shared().find<EchoCanceller>();
    if (!model || canceller == nullptr) {
        return recognitionTask(locale, filePath, audioStreamIndex, reportPartialResults,
                               std::move(handler));
    }
    retired_->join(false);
    return std::make_unique<PocketsphinxTask>(
        retired_, std::move(*model),
        PocketsphinxTask::Source{
            filePath, audioStreamIndex, farStreamIndex,
            canceller->start(SpeechAudioDecoder::sampleRate, EchoSides::decoded)},
        reportPartialResults, std::move(handler));
}

} // namespace orvo
