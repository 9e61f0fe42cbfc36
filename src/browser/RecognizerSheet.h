#pragma once

#include <functional>
#include <memory>

namespace orvo {

class RealmRecordModel;
class Recognizer;
class RecordTableViewController;

// One record's transcription under the progress sheet of the records window: stores the
// text, writes the subtitles beside the media file and lets the row unfold. Main thread.
class RecognizerSheet {
public:
    RecognizerSheet() = default;
    ~RecognizerSheet();
    RecognizerSheet(const RecognizerSheet&) = delete;
    RecognizerSheet& operator=(const RecognizerSheet&) = delete;

    // Cancels a transcription still running, then starts one for record; the table shows
    // the alerts. completion runs after a stored text.
    void start(RecordTableViewController& table, const std::shared_ptr<RealmRecordModel>& record,
               std::function<void()> completion);

    const std::shared_ptr<Recognizer>& recognize() const { return recognize_; }

private:
    std::shared_ptr<Recognizer> recognize_;
};

} // namespace orvo
