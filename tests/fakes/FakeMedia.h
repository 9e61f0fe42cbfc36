#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include <QFile>

#include "platform/Media.h"

namespace orvo {

// Ends with the status the test chose, on a thread of its own; a completed export writes
// the bytes the test chose to the output path, then tells written.
class FakeExportSession final : public ExportSession {
public:
    FakeExportSession(MediaComposition composition, QString preset, ExportStatus outcome,
                      QByteArray output, std::function<void(const QString& path)> written = {})
        : composition(std::move(composition)), preset(std::move(preset)), outcome_(outcome),
          output_(std::move(output)), written_(std::move(written)) {}
    ~FakeExportSession() override {
        if (thread_.joinable()) {
            thread_.get_id() == std::this_thread::get_id() ? thread_.detach() : thread_.join();
        }
    }

    void setOutputFileType(MediaFileType type) override {
        std::lock_guard lock(mutex_);
        fileType_ = type;
    }
    void setOutputPath(const QString& path) override {
        std::lock_guard lock(mutex_);
        path_ = path;
    }
    void exportAsynchronously(std::function<void()> completion) override {
        thread_ = std::thread([this, completion = std::move(completion)] {
            QString written;
            {
                std::lock_guard lock(mutex_);
                if (outcome_ == ExportStatus::completed) {
                    QFile file(path_);
                    if (file.open(QIODevice::WriteOnly)) {
                        file.write(output_);
                        written = path_;
                    }
                }
                status_ = outcome_;
            }
            if (!written.isEmpty() && written_) {
                written_(written);
            }
            completion();
        });
    }
    void cancelExport() override {}
    ExportStatus status() const override {
        std::lock_guard lock(mutex_);
        return status_;
    }
    std::optional<QString> errorMessage() const override {
        std::lock_guard lock(mutex_);
        return status_ == ExportStatus::failed ? std::optional(QStringLiteral("fake failure"))
                                               : std::nullopt;
    }
    MediaFileType fileType() const {
        std::lock_guard lock(mutex_);
        return fileType_;
    }

    const MediaComposition composition;
    const QString preset;

private:
    ExportStatus outcome_;
    QByteArray output_;
    std::function<void(const QString& path)> written_;
    mutable std::mutex mutex_; // guards fileType_, path_, status_
    MediaFileType fileType_ = MediaFileType::unknown;
    QString path_;
    ExportStatus status_ = ExportStatus::waiting;
    std::thread thread_;
};

// Assets by path as the test describes them; unknown paths are unreadable. A file that an
// export wrote reads with what its composition says the user listened through.
class FakeMedia final : public Media {
public:
    MediaAsset loadAsset(const QString& path) override {
        std::lock_guard lock(mutex);
        loads.push_back({path, std::this_thread::get_id()});
        auto found = assets.find(path);
        if (found == assets.end()) {
            MediaAsset unreadable;
            unreadable.path = path;
            return unreadable;
        }
        MediaAsset asset = found->second;
        if (const auto written = userOutputs.find(path); written != userOutputs.end()) {
            asset.userOutput = written->second;
        }
        return asset;
    }
    std::unique_ptr<ExportSession> makeExportSession(const MediaComposition& composition,
                                                     const QString& presetName) override {
        std::lock_guard lock(mutex);
        if (refuseExport) {
            return nullptr;
        }
        auto session = std::make_unique<FakeExportSession>(
            composition, presetName, outcome, outputBytes,
            [this, kind = composition.userOutput()](const QString& path) {
                std::lock_guard lock(mutex);
                userOutputs[path] = kind;
            });
        exports.push_back(session.get());
        return session;
    }

    // Imports are not faked: the tests of importing use the real media backend.
    ImportPlan planImport(const QString&) override { return {}; }
    std::optional<QString> importFile(const QString&, const QString&,
                                      const std::atomic<bool>&) override {
        return QStringLiteral("no imports in this fake");
    }
    // Nor is the echo removal: its tests use the real one.
    EchoFreeCopy writeWithoutEcho(const QString&, const QString&, int, int, EchoCanceller&,
                                  const std::atomic<bool>&) override {
        return {QStringLiteral("no echo removal in this fake"), {}};
    }

    std::mutex mutex; // guards everything below
    std::map<QString, MediaAsset> assets;
    bool refuseExport = false;
    ExportStatus outcome = ExportStatus::completed;
    QByteArray outputBytes = "merged";
    std::vector<FakeExportSession*> exports;                // alive while their owner keeps them
    std::vector<std::pair<QString, std::thread::id>> loads; // every loadAsset, and its thread
    std::map<QString, OutputKind> userOutputs;              // of the files exports wrote
};

} // namespace orvo
