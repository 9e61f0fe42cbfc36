#include "platform/linux/PocketsphinxTask.h"

#include <memory>
#include <utility>
#include <vector>

#include <pocketsphinx.h>

#include "platform/MainThread.h"
#include "platform/linux/SpeechAudioDecoder.h"

namespace orvo {

namespace {

struct ConfigDeleter {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};

// Samples per feed: small enough that a cancel is seen within a few milliseconds.
constexpr std::size_t chunkSamples = SpeechAudioDecoder::sampleRate / 10;
// Within a long utterance, the words heard so far are reported this often.
constexpr std::size_t partialEverySamples = SpeechAudioDecoder::sampleRate * 3;
// The voice detector hands over this many frames from before it was sure of speech.
constexpr int prespeechFrames = 20;

bool isWord(const char* word) {
    const QByteArray text(word);
    return !text.isEmpty() && !text.startsWith('<') && !text.startsWith('[') &&
           !text.startsWith('+');
}

// "read(2)" is the second pronunciation of "read".
QString spelling(const char* word) {
    QString text = QString::fromUtf8(word);
    const auto paren = text.indexOf('(');
    return paren > 0 ? text.left(paren) : text;
}

// Adds the words of the utterance so far, whose frame 0 lies at originSeconds.
void collectWords(ps_decoder_t* decoder, double originSeconds, double frameRate,
                  SpeechResult& result) {
    for (ps_seg_t* seg = ps_seg_iter(decoder); seg != nullptr; seg = ps_seg_next(seg)) {
        const char* word = ps_seg_word(seg);
        if (!isWord(word)) {
            continue;
        }
        int startFrame = 0;
        int endFrame = 0;
        ps_seg_frames(seg, &startFrame, &endFrame);
        SpeechSegment segment{spelling(word), originSeconds + startFrame / frameRate,
                              (endFrame - startFrame + 1) / frameRate};
        if (!result.formattedString.isEmpty()) {
            result.formattedString += ' ';
        }
        result.formattedString += segment.substring;
        result.segments.push_back(std::move(segment));
    }
}

} // namespace

PocketsphinxTask::PocketsphinxTask(std::shared_ptr<RetiredWorkers> retired, PocketsphinxModel model,
                                   QString filePath, std::optional<int> audioStreamIndex,
                                   bool reportPartialResults,
                                   SpeechRecognizer::ResultHandler handler)
    : retired_(std::move(retired)), state_(std::make_shared<State>()) {
    state_->handler = std::move(handler);
    worker_ = std::thread(run, state_, std::move(model), std::move(filePath), audioStreamIndex,
                          reportPartialResults);
}

PocketsphinxTask::~PocketsphinxTask() {
    state_->stop = true;
    state_->handler = nullptr;
    retired_->add(std::move(worker_), state_->done);
}

void PocketsphinxTask::cancel() {
    if (state_->cancelled || !state_->handler) {
        return;
    }
    state_->cancelled = true;
    state_->stop = true;
    // Reported at once: the worker may be busy loading the model for a while yet.
    dispatchToMain([state = state_] {
        if (auto handler = std::exchange(state->handler, nullptr)) {
            handler(std::nullopt, SpeechError{SpeechErrorCode::cancelled,
                                              QStringLiteral("The transcription was cancelled")});
        }
    });
}

void PocketsphinxTask::finish() {
    state_->handler = nullptr;
}

bool PocketsphinxTask::isCancelled() const {
    return state_->cancelled;
}

void PocketsphinxTask::deliver(const std::shared_ptr<State>& state,
                               std::optional<SpeechResult> result,
                               std::optional<SpeechError> error) {
    dispatchToMain([state, result = std::move(result), error = std::move(error)] {
        if (state->stop) {
            return;
        }
        const bool last = !result || result->isFinal;
        // A copy: the handler may end the task, which releases the stored one.
        auto handler = last ? std::exchange(state->handler, nullptr) : state->handler;
        if (handler) {
            handler(result, error);
        }
    });
}

void PocketsphinxTask::run(std::shared_ptr<State> state, PocketsphinxModel model, QString filePath,
                           std::optional<int> audioStreamIndex, bool reportPartialResults) {
    struct Done {
        std::atomic<bool>& done;
        ~Done() { done = true; }
    } done{*state->done};

    SpeechAudioDecoder audio;
    if (auto error = audio.open(filePath, audioStreamIndex)) {
        deliver(state, std::nullopt, SpeechError{SpeechErrorCode::unreadableFile, *error});
        return;
    }
    const QByteArray hmm = model.acousticModelDir.toLocal8Bit();
    const QByteArray lm = model.languageModelFile.toLocal8Bit();
    const QByteArray dict = model.dictionaryFile.toLocal8Bit();
    std::unique_ptr<cmd_ln_t, ConfigDeleter> config(
        cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(),
                    "-dict", dict.constData(), "-logfn", "/dev/null", nullptr));
    std::unique_ptr<ps_decoder_t, DecoderDeleter> decoder(config ? ps_init(config.get()) : nullptr);
    if (!decoder || ps_start_utt(decoder.get()) < 0) {
        deliver(state, std::nullopt,
                SpeechError{SpeechErrorCode::engineFailed,
                            QStringLiteral("The speech model cannot be loaded")});
        return;
    }
    const double frameRate = cmd_ln_int32_r(config.get(), "-frate");
    const double samplesPerFrame = SpeechAudioDecoder::sampleRate / frameRate;

    SpeechResult result;
    std::vector<std::int16_t> samples;
    std::size_t fedSamples = 0;
    double originSeconds = 0;
    std::size_t partialAt = 0;
    bool inSpeech = false;
    bool more = true;
    while (more && !state->stop) {
        more = audio.read(samples);
        std::size_t offset = 0;
        while (offset < samples.size() && !state->stop) {
            const std::size_t count = std::min(chunkSamples, samples.size() - offset);
            ps_process_raw(decoder.get(), samples.data() + offset, count, FALSE, FALSE);
            offset += count;
            fedSamples += count;
            const bool speech = ps_get_in_speech(decoder.get()) != 0;
            if (speech && !inSpeech) {
                originSeconds = std::max(0.0, (static_cast<double>(fedSamples) -
                                               (prespeechFrames + 0.5) * samplesPerFrame) /
                                                  SpeechAudioDecoder::sampleRate);
                partialAt = fedSamples;
            } else if (speech && reportPartialResults &&
                       fedSamples - partialAt >= partialEverySamples) {
                // The best guess so far: one speaking long without a pause still sees progress.
                partialAt = fedSamples;
                SpeechResult heard = result;
                collectWords(decoder.get(), originSeconds, frameRate, heard);
                deliver(state, std::move(heard), std::nullopt);
            } else if (!speech && inSpeech) {
                ps_end_utt(decoder.get());
                collectWords(decoder.get(), originSeconds, frameRate, result);
                ps_start_utt(decoder.get());
                if (reportPartialResults) {
                    deliver(state, result, std::nullopt);
                }
            }
            inSpeech = speech;
        }
        samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    if (state->stop) {
        return;
    }
    if (audio.error()) {
        deliver(state, std::nullopt, SpeechError{SpeechErrorCode::unreadableFile, *audio.error()});
        return;
    }
    ps_end_utt(decoder.get());
    if (inSpeech) {
        collectWords(decoder.get(), originSeconds, frameRate, result);
    }
    result.isFinal = true;
    deliver(state, std::move(result), std::nullopt);
}

} // namespace orvo
