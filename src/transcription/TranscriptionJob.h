#pragma once

#include <memory>

#include <QObject>

namespace orvo {

class RealmRecordModel;
class Recognizer;

// One record's transcription: runs the recogniser on its file, stores the text in the record,
// writes the subtitles beside the file and reports how far it is. A presenter shows it.
// Main thread only.
class TranscriptionJob : public QObject {
    Q_OBJECT
public:
    // None when the record's file cannot be transcribed (no file, no recogniser for the
    // current locale).
    static std::unique_ptr<TranscriptionJob> create(std::shared_ptr<RealmRecordModel> record);
    // Cancels a transcription still running; no signal comes after.
    ~TranscriptionJob() override;
    TranscriptionJob(const TranscriptionJob&) = delete;
    TranscriptionJob& operator=(const TranscriptionJob&) = delete;

    void start();
    // Ends it without a text and without a signal.
    void cancel();
    const std::shared_ptr<RealmRecordModel>& record() const { return record_; }

signals:
    // 0 to 100, by the part of the file transcribed.
    void progressed(int percent);
    // The text is stored in the record; the subtitles are written where they could be.
    void finished();
    // No text came, the record is gone, or the catalogue refused the text.
    void failed();

private:
    TranscriptionJob(std::shared_ptr<RealmRecordModel> record,
                     std::shared_ptr<Recognizer> recognizer);
    void complete(const std::optional<QString>& text, bool failedToRecognise);
    void storeSubtitles() const;

    std::shared_ptr<RealmRecordModel> record_;
    std::shared_ptr<Recognizer> recognizer_;
};

} // namespace orvo
