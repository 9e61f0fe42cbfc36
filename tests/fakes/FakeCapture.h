#pragma once

#include <algorithm>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/Capture.h"

namespace orvo {

// An input known to FakeCapture: a device by unique ID, or a screen.
class FakeCaptureInput final : public CaptureInput {
public:
    FakeCaptureInput(CaptureMediaType type, QString uniqueID)
        : type_(type), id_(std::move(uniqueID)) {}
    CaptureMediaType mediaType() const override { return type_; }
    const QString& uniqueID() const { return id_; }

private:
    CaptureMediaType type_;
    QString id_;
};

// What a fake output was asked to do. With finishOnStop (the default) a stop finishes the file
// on a thread of its own, like the real outputs; otherwise the test calls finish().
struct FakeOutputState {
    std::mutex mutex; // guards everything below
    QString path;
    CaptureFileType fileType = CaptureFileType::unknown;
    CaptureFileOutputRecordingDelegate* delegate = nullptr;
    bool recording = false;
    bool finishOnStop = true;
    std::vector<std::thread> threads;
};

template <class Base> class FakeFileOutput : public Base {
public:
    ~FakeFileOutput() override {
        for (auto& thread : state.threads) {
            if (thread.joinable()) {
                thread.get_id() == std::this_thread::get_id() ? thread.detach() : thread.join();
            }
        }
    }
    using Base::startRecording;
    void startRecording(const QString& path, CaptureFileType fileType,
                        CaptureFileOutputRecordingDelegate& delegate) override {
        std::lock_guard lock(state.mutex);
        state.path = path;
        state.fileType = fileType;
        state.delegate = &delegate;
        state.recording = true;
    }
    void stopRecording() override {
        std::lock_guard lock(state.mutex);
        if (state.finishOnStop && state.recording) {
            state.threads.emplace_back([this] { finish(); });
        }
    }
    bool isRecording() const override {
        std::lock_guard lock(state.mutex);
        return state.recording;
    }
    // Any thread: the file is done; the delegate hears it on this thread.
    void finish() {
        CaptureFileOutputRecordingDelegate* delegate;
        QString path;
        {
            std::lock_guard lock(state.mutex);
            if (!state.recording) {
                return;
            }
            state.recording = false;
            delegate = state.delegate;
            path = state.path;
        }
        delegate->fileOutputDidFinishRecording(*this, path, std::nullopt);
    }

    mutable FakeOutputState state;
};

// Its level readings find no samples.
class FakeAudioFileOutput final : public FakeFileOutput<CaptureAudioFileOutput> {
public:
    // Silence, as a driver delivers while nothing plays.
    std::optional<float> takeLoudestDecibels() override { return -120.0f; }
};
using FakeMovieFileOutput = FakeFileOutput<CaptureMovieFileOutput>;

// Bookkeeping only; refuses what the test tells it to.
class FakeCaptureSession final : public CaptureSession {
public:
    struct Refusals {
        bool connections = false;
    };
    explicit FakeCaptureSession(Refusals refusals) : refusals_(refusals) {}

    void setSessionPreset(SessionPreset preset) override { preset_ = preset; }
    SessionPreset sessionPreset() const override { return preset_; }
    bool canAddInput(const std::shared_ptr<CaptureInput>& input) const override {
        return input && !contains(inputs, input);
    }
    bool addInputWithNoConnections(std::shared_ptr<CaptureInput> input) override {
        return canAddInput(input) && (inputs.push_back(std::move(input)), true);
    }
    bool canAddOutput(const std::shared_ptr<CaptureFileOutput>& output) const override {
        return output && !contains(outputs, output);
    }
    bool addOutputWithNoConnections(std::shared_ptr<CaptureFileOutput> output) override {
        return canAddOutput(output) && (outputs.push_back(std::move(output)), true);
    }
    bool canAddConnection(const std::shared_ptr<CaptureConnection>& c) const override {
        return c && !refusals_.connections && contains(inputs, c->input()) &&
               contains(outputs, c->output());
    }
    bool addConnection(std::shared_ptr<CaptureConnection> connection) override {
        std::lock_guard lock(mutex);
        return canAddConnection(connection) && (connections.push_back(std::move(connection)), true);
    }
    void removeConnection(const std::shared_ptr<CaptureConnection>& connection) override {
        std::lock_guard lock(mutex);
        std::erase(connections, connection);
        ++removedConnections;
    }
    void setAudioMixPath(const QString&, const std::optional<EchoFreeNearSide>&) override {}
    void startRunning() override {
        std::lock_guard lock(mutex);
        running = true;
    }
    void stopRunning() override {
        std::lock_guard lock(mutex);
        running = false;
        ++stopRunningCalls;
    }
    bool isRunning() const override {
        std::lock_guard lock(mutex);
        return running;
    }

    std::vector<std::shared_ptr<CaptureInput>> inputs;
    std::vector<std::shared_ptr<CaptureFileOutput>> outputs;
    mutable std::mutex mutex; // guards the fields below
    std::vector<std::shared_ptr<CaptureConnection>> connections;
    bool running = false;
    int stopRunningCalls = 0;
    int removedConnections = 0;

private:
    template <class T>
    static bool contains(const std::vector<std::shared_ptr<T>>& list, const std::shared_ptr<T>& x) {
        return std::find(list.begin(), list.end(), x) != list.end();
    }
    Refusals refusals_;
    SessionPreset preset_ = SessionPreset::low;
};

// Devices and screens named by the test; remembers the sessions and outputs it made.
class FakeCapture final : public Capture {
public:
    std::unique_ptr<CaptureSession> makeSession() override {
        auto session = std::make_unique<FakeCaptureSession>(refusals);
        sessions.push_back(session.get());
        return session;
    }
    std::shared_ptr<CaptureInput> makeDeviceInput(const QString& uniqueID) override {
        if (!devices.contains(uniqueID)) {
            return nullptr;
        }
        return std::make_shared<FakeCaptureInput>(CaptureMediaType::audio, uniqueID);
    }
    std::shared_ptr<CaptureInput> makeScreenInput(DisplayID displayID,
                                                  const ScreenChoice& choice) override {
        screenChoices.push_back(choice);
        if (screenRefusal && choice.refused) {
            choice.refused(*screenRefusal, QStringLiteral("as the test says"));
            return nullptr;
        }
        if (!displays.contains(displayID)) {
            return nullptr;
        }
        return std::make_shared<FakeCaptureInput>(CaptureMediaType::video,
                                                  QString::number(displayID));
    }
    std::shared_ptr<CaptureAudioFileOutput> makeAudioFileOutput() override {
        auto output = std::make_shared<FakeAudioFileOutput>();
        audioOutputs.push_back(output);
        return output;
    }
    std::shared_ptr<CaptureMovieFileOutput> makeMovieFileOutput() override {
        auto output = std::make_shared<FakeMovieFileOutput>();
        movieOutputs.push_back(output);
        return output;
    }

    std::set<QString> devices;
    std::set<DisplayID> displays;
    std::vector<ScreenChoice> screenChoices;    // as each screen input was asked for
    std::optional<ScreenRefusal> screenRefusal; // the desktop gives no screen, for this reason
    FakeCaptureSession::Refusals refusals;
    std::vector<FakeCaptureSession*> sessions; // alive while their owner keeps them
    std::vector<std::shared_ptr<FakeAudioFileOutput>> audioOutputs;
    std::vector<std::shared_ptr<FakeMovieFileOutput>> movieOutputs;
};

} // namespace orvo
