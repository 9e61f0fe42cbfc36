#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "platform/SpeechRecognizer.h"
#include "platform/linux/speech/PocketsphinxTask.h"

namespace orvo {

// Offline recognition with pocketsphinx and the models installed under modelRoot (one
// folder per language, e.g. "en-us").
class PocketsphinxSpeechRecognizer final : public SpeechRecognizer {
public:
    explicit PocketsphinxSpeechRecognizer(
        QString modelRoot = QStringLiteral("/usr/share/pocketsphinx/model"));
    // Waits for the workers of ended tasks.
    ~PocketsphinxSpeechRecognizer() override;
    PocketsphinxSpeechRecognizer(const PocketsphinxSpeechRecognizer&) = delete;
    PocketsphinxSpeechRecognizer& operator=(const PocketsphinxSpeechRecognizer&) = delete;

    bool supportsLocale(const QLocale& locale) const override;
    std::unique_ptr<SpeechRecognitionTask> recognitionTask(const QLocale& locale,
                                                           const QString& filePath,
                                                           std::optional<int> audioStreamIndex,
                                                           bool reportPartialResults,
                                                           ResultHandler handler) override;
    // The far side's echo taken out by the installed EchoCanceller, when there is one.
    std::unique_ptr<SpeechRecognitionTask>
    recognitionTaskWithoutEcho(const QLocale& locale, const QString& filePath,
                               std::optional<int> audioStreamIndex, int farStreamIndex,
                               bool reportPartialResults, ResultHandler handler) override;

private:
    std::optional<PocketsphinxModel> modelFor(const QLocale& locale) const;

    QString modelRoot_;
    std::shared_ptr<RetiredWorkers> retired_ = std::make_shared<RetiredWorkers>();
};

} // namespace orvo
