#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include <QString>

#include "platform/EchoCanceller.h"
#include "platform/SpeechRecognizer.h"
#include "platform/linux/signal/SpeechSegmenter.h"
#include "platform/linux/speech/RetiredWorkers.h"

struct ps_decoder_s;
struct fe_s;

namespace orvo {

// The files of one pocketsphinx model.
struct PocketsphinxModel {
    QString acousticModelDir;
    QString languageModelFile;
    QString dictionaryFile;
};

// Decodes one audio stream of a file on a worker thread: FFmpeg reads 16 kHz mono samples, cut
// at pauses into stretches of speech that pocketsphinx decodes one by one (silence costs nothing);
// a partial result after each stretch and every few seconds within a long one, then the final.
class PocketsphinxTask final : public SpeechRecognitionTask {
public:
    // What is transcribed: a stream of the file, without the echo of another one when an echo
    // cancellation is given.
    struct Source {
        QString filePath;
        std::optional<int> audioStreamIndex;
        std::optional<int> farStreamIndex;
        std::shared_ptr<EchoCancellation> cancellation;
    };

    PocketsphinxTask(std::shared_ptr<RetiredWorkers> retired, PocketsphinxModel model,
                     Source source, bool reportPartialResults,
                     SpeechRecognizer::ResultHandler handler);
    // Main thread, never blocks: the worker is joined later, once it has stopped.
    ~PocketsphinxTask() override;

    void cancel() override;
    void finish() override;
    bool isCancelled() const override;

private:
    // What the worker and the main thread share; handler and finished are touched on the
    // main thread only, stop on any thread.
    struct State {
        SpeechRecognizer::ResultHandler handler;
        std::atomic<bool> stop{false};
        std::shared_ptr<std::atomic<bool>> done = std::make_shared<std::atomic<bool>>(false);
        bool cancelled = false;
    };
    static void deliver(const std::shared_ptr<State>& state, std::optional<SpeechResult> result,
                        std::optional<SpeechError> error);
    // One stretch of speech through the decoder, its words added to result; false once stopped
    // or failed (the failure delivered).
    struct Stretch {
        ps_decoder_s* decoder;
        fe_s* frontEnd;
        double frameRate;
        bool reportPartialResults;
        bool decode(const std::shared_ptr<State>& state, const SpeechSegmenter::Segment& segment,
                    SpeechResult& result) const;
        void normalise(const std::vector<std::int16_t>& samples) const;
    };
    static void run(std::shared_ptr<State> state, PocketsphinxModel model, Source source,
                    bool reportPartialResults);

    std::shared_ptr<RetiredWorkers> retired_;
    std::shared_ptr<State> state_;
    std::thread worker_;
};

} // namespace orvo
