#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/Displays.h"
#include "platform/EchoCanceller.h"
#include "platform/Port.h"
#include "platform/SessionPreset.h"

namespace orvo {

// Capture of audio devices and screens into segment files.
//
// How the recording engine drives it (main thread unless said otherwise):
//   auto session = capture.makeSession();            session->setSessionPreset(preset);
//   per device:  input = capture.makeDeviceInput(uid); output = capture.makeAudioFileOutput();
//                canAddInput/addInputWithNoConnections, canAddOutput/addOutputWithNoConnections
//   screen:      capture.makeScreenInput(displayID) + capture.makeMovieFileOutput(), the same way
//   per pair i:  connection = std::make_shared<CaptureConnection>(input[i], output[i]);
//                canAddConnection/addConnection
//   start:       startRunning(); then each output's startRecording(path, type, delegate)
//   stop:        each output's stopRecording(); the delegate hears once per output, on that
//                output's worker thread; the last one calls stopRunning() and merges.
// Nothing here throws: creation answers nullptr, adding answers false, recording failures
// arrive as the finish callback's error.
// Every output started within 20 ms of the first begins at the same instant of the session's
// clock, and its file says when (Media's export lays segments out by it). Files are written
// in fragments, so a killed process leaves them readable up to about its last second.

enum class CaptureFileType { unknown, appleM4A, quickTimeMovie };

enum class CaptureErrorCode { unknown, sessionNotRunning, sourceFailed, fileFailed };

struct CaptureError {
    CaptureErrorCode code = CaptureErrorCode::unknown;
    QString localizedDescription;
};

enum class CaptureMediaType { unknown, audio, video };

// A source of media: an audio capture device or a screen.
class CaptureInput {
public:
    virtual ~CaptureInput() = default;
    virtual CaptureMediaType mediaType() const = 0;
};

class CaptureFileOutput;

class CaptureFileOutputRecordingDelegate {
public:
    // Called once per startRecording, on the output's worker thread, when the file is closed
    // (after stopRecording), or at once when recording could not start. The file at path
    // holds whatever was recorded, also when error is set.
    virtual void fileOutputDidFinishRecording(CaptureFileOutput& output, const QString& path,
                                              const std::optional<CaptureError>& error) = 0;

protected:
    ~CaptureFileOutputRecordingDelegate() = default;
};

// Writes what its connected input delivers into one file per recording.
class CaptureFileOutput {
public:
    virtual ~CaptureFileOutput() = default;
    virtual CaptureMediaType mediaType() const = 0;

    // Main thread; does not block on the file. The delegate must outlive the finish callback.
    // When recording cannot start, the callback runs before this returns (on the calling
    // thread or the worker), so note the path as active before calling.
    virtual void startRecording(const QString& path, CaptureFileType fileType,
                                CaptureFileOutputRecordingDelegate& delegate) = 0;
    // Main thread; returns at once. The file is finished on the worker thread.
    virtual void stopRecording() = 0;
    // Any thread.
    virtual bool isRecording() const = 0;
};

// Audio of one capture device; file type appleM4A.
class CaptureAudioFileOutput : public CaptureFileOutput {
public:
    CaptureMediaType mediaType() const override { return CaptureMediaType::audio; }
    // Any thread. The loudest sample the device delivered since the last call (recording or
    // not), in dB of full scale; absent when nothing came.
    virtual std::optional<float> takeLoudestDecibels() = 0;
};

// The screen's video; file type quickTimeMovie.
class CaptureMovieFileOutput : public CaptureFileOutput {
public:
    CaptureMediaType mediaType() const override { return CaptureMediaType::video; }
    // Main thread. Records in the platform's default movie file type.
    void startRecording(const QString& path, CaptureFileOutputRecordingDelegate& delegate) {
        startRecording(path, CaptureFileType::quickTimeMovie, delegate);
    }
    using CaptureFileOutput::startRecording;
};

// Sends everything of one input to one output; made with std::make_shared, identified by
// its address.
class CaptureConnection {
public:
    CaptureConnection(std::shared_ptr<CaptureInput> input,
                      std::shared_ptr<CaptureFileOutput> output)
        : input_(std::move(input)), output_(std::move(output)) {}
    const std::shared_ptr<CaptureInput>& input() const { return input_; }
    const std::shared_ptr<CaptureFileOutput>& output() const { return output_; }

private:
    std::shared_ptr<CaptureInput> input_;
    std::shared_ptr<CaptureFileOutput> output_;
};

// Inputs, outputs and the connections between them. An input reaches an output only through
// an explicit connection; one connection per output. Main thread unless said otherwise.
// Where a call's near side is written once more without the far side's echo, and what takes
// the echo out.
struct EchoFreeNearSide {
    QString path;
    EchoCanceller& canceller;
};

class CaptureSession {
public:
    virtual ~CaptureSession() = default;

    virtual void setSessionPreset(SessionPreset preset) = 0;
    virtual SessionPreset sessionPreset() const = 0;

    virtual bool canAddInput(const std::shared_ptr<CaptureInput>& input) const = 0;
    virtual bool addInputWithNoConnections(std::shared_ptr<CaptureInput> input) = 0;
    virtual bool canAddOutput(const std::shared_ptr<CaptureFileOutput>& output) const = 0;
    virtual bool addOutputWithNoConnections(std::shared_ptr<CaptureFileOutput> output) = 0;

    // Both ends must be in the session, of the same media type, and the output unconnected.
    virtual bool canAddConnection(const std::shared_ptr<CaptureConnection>& connection) const = 0;
    virtual bool addConnection(std::shared_ptr<CaptureConnection> connection) = 0;
    // Any thread. Stops the output's recording first when it still records.
    virtual void removeConnection(const std::shared_ptr<CaptureConnection>& connection) = 0;

    // Before the outputs start recording: the sound of the connected audio outputs is also
    // summed while it is recorded, in connection order, into one more fragmented file at
    // path in the preset's quality, which begins where they do and is closed before the last
    // of their finish callbacks. Each audio output's own file then holds its source as
    // speech-quality mono: one side of the call. With echoFree, the first output's sound (the
    // near side) is also written at echoFree's path without the echo of the second's (the far
    // side), closed with the mix; no such file when no echo was heard or the stage failed.
    virtual void setAudioMixPath(const QString& path,
                                 const std::optional<EchoFreeNearSide>& echoFree) = 0;

    // Blocks until every connected source is open (or has failed, which the output reports
    // when it starts recording). Samples flow from here on; recording starts per output.
    virtual void startRunning() = 0;
    // Any thread, also an output's worker thread inside its finish callback; returns at once.
    // Outputs still recording are finished, with their callbacks. A stopped session does not
    // run again. Destroying a session stops it and waits for those callbacks (except the one
    // it is destroyed in), so delegates must outlive the session.
    virtual void stopRunning() = 0;
    // Any thread.
    virtual bool isRunning() const = 0;
};

// Why the desktop gave no screen to record (the screen-cast portal of a Wayland session).
enum class ScreenRefusal {
    noPortal,  // nothing answers for screen casting
    cancelled, // the user closed the desktop's dialog without a choice
    refused,   // the desktop would not, or did not answer in time
};

// What a screen that the desktop's own dialog chooses needs (Displays: chosenByDesktop): the
// token of the last choice, so that the next recording asks nothing; who keeps the token of a
// new choice; who hears why no screen came. The functions are called on the calling thread.
struct ScreenChoice {
    std::optional<QString> restoreToken;
    std::function<void(const QString& restoreToken)> keepToken;
    std::function<void(ScreenRefusal why, const QString& detail)> refused;
};

// Factory of the capture objects.
class Capture : public Port {
public:
    // Main thread.
    virtual std::unique_ptr<CaptureSession> makeSession() = 0;
    // Main thread; may block briefly to ask the sound server. nullptr when no capture device
    // has this unique ID.
    virtual std::shared_ptr<CaptureInput> makeDeviceInput(const QString& deviceUniqueID) = 0;
    // Main thread. nullptr when no screen has this display identifier. A screen that the
    // desktop chooses blocks while the desktop asks the user (any thread with an event loop
    // then), and is nullptr when none came (choice.refused says why).
    virtual std::shared_ptr<CaptureInput> makeScreenInput(DisplayID displayID,
                                                          const ScreenChoice& choice = {}) = 0;
    virtual std::shared_ptr<CaptureAudioFileOutput> makeAudioFileOutput() = 0;
    virtual std::shared_ptr<CaptureMovieFileOutput> makeMovieFileOutput() = 0;
};

} // namespace orvo
