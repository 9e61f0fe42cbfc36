#pragma once

#include <functional>
#include <memory>

namespace orvo {

class RealmRecordModel;
class RecordTableViewController;
class TranscriptionJob;

// Shows one record's transcription in the records window: the progress sheet while it runs,
// the alert when it fails. Main thread.
class RecognizerSheet {
public:
    RecognizerSheet();
    // The window is going: its sheet with it, and the transcription with its sheet.
    ~RecognizerSheet();
    RecognizerSheet(const RecognizerSheet&) = delete;
    RecognizerSheet& operator=(const RecognizerSheet&) = delete;

    // Cancels a transcription still running, then starts one for record; the table shows
    // the alerts. completion runs after a stored text.
    void start(RecordTableViewController& table, const std::shared_ptr<RealmRecordModel>& record,
               std::function<void()> completion);

    const TranscriptionJob* job() const { return job_.get(); }

private:
    std::unique_ptr<TranscriptionJob> job_;
};

} // namespace orvo
