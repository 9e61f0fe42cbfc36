#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/EchoCanceller.h"
#include "platform/MediaComposition.h"
#include "platform/Port.h"

namespace orvo {

// Reading recorded files and exporting compositions of them.
//
// How the recording engine merges its segments (any thread):
//   MediaComposition composition;
//   per segment: asset = media.loadAsset(path);
//                track = composition.addMutableTrack(MediaType::audio);  (video for ".mov")
//                if (auto source = asset.firstTrack(MediaType::audio))
//                    track->insertTimeRange(source->timeRange(), *source, 0.0);
//   auto session = media.makeExportSession(composition, exportPresetAppleM4A);
//   session->setOutputFileType(MediaFileType::appleM4A); session->setOutputPath(path);
//   session->exportAsynchronously([&] { read session->status() and errorMessage() });
// Segments of one recording carry their start on the recording's shared clock; an export
// lays them out by those starts, so that sources recorded together stay together.

enum class MediaFileType { unknown, appleM4A, mpeg4, quickTimeMovie };

inline const QString exportPresetAppleM4A = QStringLiteral("AppleM4A");
inline const QString exportPresetPassthrough = QStringLiteral("Passthrough");
// The audio tracks mixed into the first track, then each copied as it was recorded after it.
inline const QString exportPresetMixAndSides = QStringLiteral("MixAndSides");

enum class ExportStatus { unknown, waiting, exporting, completed, failed, cancelled };

// The status's name, as written in logs: "unknown", "waiting", ..., "cancelled".
QString exportStatusName(ExportStatus status);

// Writes one composition into one file, on a worker thread of its own.
class ExportSession {
public:
    virtual ~ExportSession() = default;

    // Before exporting; any thread.
    virtual void setOutputFileType(MediaFileType fileType) = 0;
    virtual void setOutputPath(const QString& path) = 0;

    // Any thread; returns at once. completion runs once, on the export's worker thread, when
    // the status is completed, failed or cancelled. A second call does nothing. Destroying
    // the session cancels a running export.
    virtual void exportAsynchronously(std::function<void()> completion) = 0;
    // Any thread; returns at once. The completion still runs, with status cancelled.
    virtual void cancelExport() = 0;

    // Any thread.
    virtual ExportStatus status() const = 0;
    // Any thread. Why the export failed; absent unless the status is failed.
    virtual std::optional<QString> errorMessage() const = 0;
};

// What a file brought from another program becomes in the catalogue.
struct ImportPlan {
    enum class Problem { none, unreadable, noSound };
    MediaType kind = MediaType::unknown; // audio or video; unknown: it cannot be imported
    Problem problem = Problem::unreadable;
};

// A recording written again without the far side's echo in its near side.
struct EchoFreeCopy {
    std::optional<QString> error; // why nothing was written
    // The far side's delays as measured; empty when no echo was heard, and nothing was written.
    std::vector<int> delaysMs;
};

// Factory of assets and export sessions.
class Media : public Port {
public:
    // Any thread; blocks while the file is probed. An unreadable file gives an asset with
    // duration 0 and no tracks.
    virtual MediaAsset loadAsset(const QString& path) = 0;
    // Any thread. nullptr for a preset this platform does not know.
    virtual std::unique_ptr<ExportSession> makeExportSession(const MediaComposition& composition,
                                                             const QString& presetName) = 0;
    // Any thread; blocks while the file is probed.
    virtual ImportPlan planImport(const QString& source) = 0;
    // Any thread; blocks. Writes source at destination as its plan says: its sound as AAC in
    // an .m4a, or a video's picture copied with its sound into a .mov. The error, with nothing
    // left at destination, when it could not or was cancelled.
    virtual std::optional<QString> importFile(const QString& source, const QString& destination,
                                              const std::atomic<bool>& cancelled) = 0;
    // Any thread; blocks. Writes source at destination with the sound of its track nearStream
    // freed of the echo of track farStream, and marked so (MediaAsset::nearSideEchoRemoved);
    // every other track as it is. Nothing is left at destination on an error, when cancelled,
    // or when no echo was heard.
    virtual EchoFreeCopy writeWithoutEcho(const QString& source, const QString& destination,
                                          int nearStream, int farStream, EchoCanceller& canceller,
                                          const std::atomic<bool>& cancelled) = 0;
};

} // namespace orvo
