#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "platform/Media.h"

namespace orvo {

class RealmRecordModel;

// Brings files from other programs into the catalogue as records, one after another on a
// worker thread: the file carried into our formats beside the recordings, then a record named
// after the file, at the file's date. Main thread.
class RecordImporter : public QObject {
    Q_OBJECT
public:
    struct Failure {
        QString path;
        ImportPlan::Problem problem = ImportPlan::Problem::none; // none: it could not be written
        QString error;
        bool cancelled = false; // by the user: no refusal to tell
    };

    explicit RecordImporter(QObject* parent = nullptr);
    // Cancels the file being carried (nothing of it is left) and drops those waiting.
    ~RecordImporter() override;

    // Queued behind those still waiting.
    void importFiles(const QStringList& paths);
    // Drops those waiting and ends the one being carried without a record.
    void cancel();
    bool isBusy() const { return worker_.joinable() || !waiting_.empty(); }

    // Each file ends in one of these; then, when none waits, finished.
    std::function<void(std::shared_ptr<RealmRecordModel> record)> imported;
    std::function<void(const Failure& failure)> failed;
    std::function<void()> finished;
    // The file that is being carried now.
    std::function<void(const QString& path)> started;

private:
    // What the worker made of one file.
    struct Carried {
        QString source;
        std::optional<Failure> failure;
        MediaType kind = MediaType::unknown;
        QString fileName;
        QDateTime time;
        double durationSeconds = 0.0;
        double sizeMB = 0.0;
    };

    void startNext();
    void finish(const Carried& carried);
    static Carried carry(const QString& source, const std::atomic<bool>& cancelled);

    std::deque<QString> waiting_;
    std::thread worker_;
    std::atomic<bool> cancelled_{false};
};

} // namespace orvo
