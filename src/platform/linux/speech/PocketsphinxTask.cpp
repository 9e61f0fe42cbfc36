#include "platform/linux/speech/PocketsphinxTask.h"

#include <malloc.h>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include <pocketsphinx.h>
#include <sphinxbase/cmn.h>
#include <sphinxbase/err.h>
#include <sphinxbase/fe.h>
#include <sphinxbase/feat.h>

#include "platform/MainThread.h"
#include "platform/linux/speech/EchoFreeSpeechAudio.h"
#include "platform/linux/speech/SpeechAudioDecoder.h"

namespace orvo {

namespace {

// The library logs to one FILE for the whole process, and a decoder given a log file of its
// own closes it under the feet of every other thread: two decoders started at once hung or
// wrote to a closed file. The log is shut once, before the first decoder, and never reopened.
void silenceLibraryLog() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

struct ConfigDeleter {
    void operator()(cmd_ln_t* config) const { cmd_ln_free_r(config); }
};
struct DecoderDeleter {
    void operator()(ps_decoder_t* decoder) const { ps_free(decoder); }
};
struct FrontEndDeleter {
    void operator()(fe_t* frontEnd) const { fe_free(frontEnd); }
};

// Samples per feed: small enough that a cancel is seen within a few milliseconds.
constexpr std::size_t chunkSamples = SpeechAudioDecoder::sampleRate / 10;
// Within a long utterance, the words heard so far are reported this often.
constexpr std::size_t partialEverySamples = SpeechAudioDecoder::sampleRate * 3;

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

// The words of a stretch after those of the stretches before it.
void append(SpeechResult& result, SpeechResult&& stretch) {
    if (!result.formattedString.isEmpty() && !stretch.formattedString.isEmpty()) {
        result.formattedString += ' ';
    }
    result.formattedString += stretch.formattedString;
    result.segments.insert(result.segments.end(), std::make_move_iterator(stretch.segments.begin()),
                           std::make_move_iterator(stretch.segments.end()));
}

} // namespace

PocketsphinxTask::PocketsphinxTask(std::shared_ptr<RetiredWorkers> retired, PocketsphinxModel model,
                                   Source source, bool reportPartialResults,
                                   SpeechRecognizer::ResultHandler handler)
    : retired_(std::move(retired)), state_(std::make_shared<State>()) {
    state_->handler = std::move(handler);
    worker_ = std::thread(run, state_, std::move(model), std::move(source), reportPartialResults);
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

void PocketsphinxTask::run(std::shared_ptr<State> state, PocketsphinxModel model, Source source,
                           bool reportPartialResults) {
    // Last, once the decoder is gone: its model's hundred megabytes go back to the system,
    // which the C library would otherwise keep in this thread's arena for good.
    struct Done {
        std::atomic<bool>& done;
        ~Done() {
            malloc_trim(0);
            done = true;
        }
    } done{*state->done};

    EchoFreeSpeechAudio audio;
    if (auto error = audio.open(source.filePath, source.audioStreamIndex, source.farStreamIndex,
                                std::move(source.cancellation))) {
        deliver(state, std::nullopt, SpeechError{SpeechErrorCode::unreadableFile, *error});
        return;
    }
    const QByteArray hmm = model.acousticModelDir.toLocal8Bit();
    const QByteArray lm = model.languageModelFile.toLocal8Bit();
    const QByteArray dict = model.dictionaryFile.toLocal8Bit();
    // The segmenter already keeps the silences out; the decoder's own voice detector would
    // only blur the words' times. At most 3000 active HMMs a frame and the best 2 Gaussians of
    // a codebook (the library's defaults are 30000 and 4): 40 % less processor time and no word
    // lost on the benchmark's call, so that both sides of a call fit in the time the command
    // line takes for one even when a core is busy elsewhere.
    silenceLibraryLog();
    std::unique_ptr<cmd_ln_t, ConfigDeleter> config(cmd_ln_init(
        nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-lm", lm.constData(), "-dict",
        dict.constData(), "-remove_silence", "no", "-maxhmmpf", "3000", "-topn", "2", nullptr));
    std::unique_ptr<ps_decoder_t, DecoderDeleter> decoder(config ? ps_init(config.get()) : nullptr);
    // After ps_init, which completes the configuration from the model's feature parameters.
    std::unique_ptr<fe_t, FrontEndDeleter> frontEnd(decoder ? fe_init_auto_r(config.get())
                                                            : nullptr);
    if (!decoder || !frontEnd) {
        deliver(state, std::nullopt,
                SpeechError{SpeechErrorCode::engineFailed,
                            QStringLiteral("The speech model cannot be loaded")});
        return;
    }
    const Stretch stretch{decoder.get(), frontEnd.get(),
                          static_cast<double>(cmd_ln_int32_r(config.get(), "-frate")),
                          reportPartialResults};

    SpeechResult result;
    SpeechSegmenter segmenter;
    std::vector<SpeechSegmenter::Segment> segments;
    std::vector<std::int16_t> samples;
    bool more = true;
    while (more && !state->stop) {
        samples.clear();
        more = audio.read(samples);
        segmenter.push(samples.data(), samples.size(), segments);
        if (!more) {
            segmenter.finish(segments);
        }
        for (const auto& segment : segments) {
            if (!stretch.decode(state, segment, result)) {
                return;
            }
        }
        segments.clear();
    }
    if (state->stop) {
        return;
    }
    if (audio.error()) {
        deliver(state, std::nullopt, SpeechError{SpeechErrorCode::unreadableFile, *audio.error()});
        return;
    }
    result.isFinal = true;
    deliver(state, std::move(result), std::nullopt);
}

bool PocketsphinxTask::Stretch::decode(const std::shared_ptr<State>& state,
                                       const SpeechSegmenter::Segment& segment,
                                       SpeechResult& result) const {
    normalise(segment.samples);
    const double originSeconds =
        static_cast<double>(segment.startSample) / SpeechAudioDecoder::sampleRate;
    if (ps_start_utt(decoder) < 0) {
        deliver(state, std::nullopt,
                SpeechError{SpeechErrorCode::engineFailed,
                            QStringLiteral("The speech decoder cannot start")});
        return false;
    }
    std::size_t partialAt = 0;
    for (std::size_t offset = 0; offset < segment.samples.size(); offset += chunkSamples) {
        if (state->stop) {
            ps_end_utt(decoder);
            return false;
        }
        const std::size_t count = std::min(chunkSamples, segment.samples.size() - offset);
        ps_process_raw(decoder, segment.samples.data() + offset, count, FALSE, FALSE);
        if (reportPartialResults && offset + count - partialAt >= partialEverySamples) {
            // The best guess of the stretch so far: one speaking long without a pause still
            // sees progress.
            partialAt = offset + count;
            SpeechResult heard;
            collectWords(decoder, originSeconds, frameRate, heard);
            deliver(state, std::move(heard), std::nullopt);
        }
    }
    ps_end_utt(decoder);
    SpeechResult heard;
    collectWords(decoder, originSeconds, frameRate, heard);
    if (reportPartialResults) {
        deliver(state, heard, std::nullopt);
    }
    append(result, std::move(heard));
    return true;
}

void PocketsphinxTask::Stretch::normalise(const std::vector<std::int16_t>& samples) const {
    // The stretch's own mean cepstrum, as a whole-utterance normalisation would take it, but
    // set ahead so that the decoder can still take the audio in small, cancellable steps.
    mfcc_t** cepstra = nullptr;
    std::int32_t frames = 0;
    fe_start_utt(frontEnd);
    if (fe_process_utt(frontEnd, samples.data(), samples.size(), &cepstra, &frames) < 0) {
        return;
    }
    const std::unique_ptr<void, decltype(&fe_free_2d)> owned(cepstra, &fe_free_2d);
    const int size = fe_get_output_size(frontEnd);
    std::vector<mfcc_t> tail(static_cast<std::size_t>(size));
    std::int32_t tailFrames = 0;
    fe_end_utt(frontEnd, tail.data(), &tailFrames);
    std::vector<double> sum(static_cast<std::size_t>(size), 0.0);
    int counted = 0;
    for (std::int32_t frame = 0; frame < frames; ++frame) {
        // The decoder's normalisation skips frames without energy as well.
        if (cepstra[frame][0] < 0) {
            continue;
        }
        for (int i = 0; i < size; ++i) {
            sum[static_cast<std::size_t>(i)] += cepstra[frame][i];
        }
        ++counted;
    }
    if (counted == 0) {
        return;
    }
    std::vector<mfcc_t> mean(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        mean[static_cast<std::size_t>(i)] =
            static_cast<mfcc_t>(sum[static_cast<std::size_t>(i)] / counted);
    }
    cmn_live_set(ps_get_feat(decoder)->cmn_struct, mean.data());
}

} // namespace orvo
