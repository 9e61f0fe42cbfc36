#pragma once

#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/MainThread.h"
#include "platform/SpeechRecognizer.h"

namespace orvo {

// A task whose results the test hands over on the main thread.
class FakeSpeechRecognitionTask final : public SpeechRecognitionTask {
public:
    explicit FakeSpeechRecognitionTask(SpeechRecognizer::ResultHandler handler)
        : state_(std::make_shared<State>()) {
        state_->handler = std::move(handler);
    }

    // Like the real engine, a cancelled task reports once more, in a later turn.
    void cancel() override {
        if (state_->cancelled) {
            return;
        }
        state_->cancelled = true;
        dispatchToMain([state = state_] {
            deliverTo(state, std::nullopt,
                      SpeechError{SpeechErrorCode::cancelled, QStringLiteral("cancelled")});
        });
    }
    void finish() override { state_->handler = nullptr; }
    bool isCancelled() const override { return state_->cancelled; }

    void deliver(std::optional<SpeechResult> result, std::optional<SpeechError> error) {
        deliverTo(state_, std::move(result), std::move(error));
    }
    bool finished() const { return !state_->handler; }

private:
    struct State {
        SpeechRecognizer::ResultHandler handler;
        bool cancelled = false;
    };
    static void deliverTo(const std::shared_ptr<State>& state, std::optional<SpeechResult> result,
                          std::optional<SpeechError> error) {
        // A copy: the handler may finish the task, which releases the stored one.
        if (auto handler = state->handler) {
            handler(std::move(result), std::move(error));
        }
    }
    std::shared_ptr<State> state_;
};

class FakeSpeechRecognizer final : public SpeechRecognizer {
public:
    std::set<QLocale::Language> languages{QLocale::English};
    std::vector<QString> requestedFiles;
    std::vector<std::optional<int>> requestedStreams;
    // Per request: the far side whose echo was to be taken out, if any.
    std::vector<std::optional<int>> requestedFarStreams;
    std::vector<FakeSpeechRecognitionTask*> tasks; // alive while their owner keeps them
    FakeSpeechRecognitionTask* lastTask = nullptr;

    bool supportsLocale(const QLocale& locale) const override {
        return languages.count(locale.language()) > 0;
    }
    std::unique_ptr<SpeechRecognitionTask> recognitionTask(const QLocale& locale,
                                                           const QString& filePath,
                                                           std::optional<int> audioStreamIndex,
                                                           bool, ResultHandler handler) override {
        return make(locale, filePath, audioStreamIndex, std::nullopt, std::move(handler));
    }
    std::unique_ptr<SpeechRecognitionTask>
    recognitionTaskWithoutEcho(const QLocale& locale, const QString& filePath,
                               std::optional<int> audioStreamIndex, int farStreamIndex, bool,
                               ResultHandler handler) override {
        return make(locale, filePath, audioStreamIndex, farStreamIndex, std::move(handler));
    }

private:
    std::unique_ptr<SpeechRecognitionTask> make(const QLocale& locale, const QString& filePath,
                                                std::optional<int> audioStreamIndex,
                                                std::optional<int> farStreamIndex,
                                                ResultHandler handler) {
        if (!supportsLocale(locale)) {
            return nullptr;
        }
        requestedFiles.push_back(filePath);
        requestedStreams.push_back(audioStreamIndex);
        requestedFarStreams.push_back(farStreamIndex);
        auto task = std::make_unique<FakeSpeechRecognitionTask>(std::move(handler));
        lastTask = task.get();
        tasks.push_back(lastTask);
        return task;
    }
};

} // namespace orvo
