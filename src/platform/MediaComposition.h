#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "platform/OutputKind.h"

namespace orvo {

enum class MediaType { unknown, audio, video };

// Seconds from start, for durationSeconds.
struct MediaTimeRange {
    double startSeconds = 0.0;
    double durationSeconds = 0.0;
    double endSeconds() const { return startSeconds + durationSeconds; }
};

// One stream of a media file.
struct MediaAssetTrack {
    MediaType mediaType = MediaType::unknown;
    QString sourcePath;
    int streamIndex = -1;
    double durationSeconds = 0.0;
    // Start of the recording on the recording's shared clock (microseconds since the Unix
    // epoch); absent for files not made by our capture.
    std::optional<std::int64_t> captureStartMicroseconds;
    // The stream's title, else its handler name; empty when it has neither.
    QString title{};

    MediaTimeRange timeRange() const { return {0.0, durationSeconds}; }
};

// What a probe of a media file found.
struct MediaAsset {
    QString path;
    double durationSeconds = 0.0; // 0 when unreadable
    std::vector<MediaAssetTrack> tracks;
    // What the user listened through while it was recorded, as the file says; unknown for
    // files that do not say.
    OutputKind userOutput = OutputKind::unknown;
    // The near side's track no longer carries the far side's echo (Media::writeWithoutEcho, or
    // written so while it was recorded).
    bool nearSideEchoRemoved = false;

    std::optional<MediaAssetTrack> firstTrack(MediaType type) const;
    // The first audio track of that title ("You", "Them": the sides of a call).
    std::optional<MediaAssetTrack> audioTrackTitled(const QString& title) const;

private:
    std::optional<MediaAssetTrack>
    firstTrackWhere(const std::function<bool(const MediaAssetTrack&)>& wanted) const;
};

// A piece of a source track placed on a composition track.
struct MediaCompositionSegment {
    MediaAssetTrack source;
    MediaTimeRange sourceRange;
    double targetStartSeconds = 0.0;
};

class MediaCompositionTrack {
public:
    MediaCompositionTrack(int trackID, MediaType mediaType)
        : trackID_(trackID), mediaType_(mediaType) {}

    int trackID() const { return trackID_; }
    MediaType mediaType() const { return mediaType_; }
    const std::vector<MediaCompositionSegment>& segments() const { return segments_; }

    // The name players show for the track; empty: none.
    const QString& title() const { return title_; }
    void setTitle(const QString& title) { title_ = title; }
    // Whether players play the track by default. Of several tracks of one kind, those enabled
    // are played; when none is, the first.
    bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    // Places range of source at atSeconds. False (and error set when given) when the source is
    // of another media type or the range lies outside it; the track is then unchanged.
    bool insertTimeRange(MediaTimeRange range, const MediaAssetTrack& source, double atSeconds,
                         QString* error = nullptr);

private:
    int trackID_;
    MediaType mediaType_;
    std::vector<MediaCompositionSegment> segments_;
    QString title_;
    bool enabled_ = true;
};

// Tracks of pieces of media files, laid over one another. Used by one thread at a time.
class MediaComposition {
public:
    MediaComposition() = default;
    // Copies hold tracks of their own.
    MediaComposition(const MediaComposition& other);
    MediaComposition& operator=(const MediaComposition& other);
    MediaComposition(MediaComposition&&) noexcept = default;
    MediaComposition& operator=(MediaComposition&&) noexcept = default;
    ~MediaComposition() = default;

    // nullptr for an unknown media type or a preferred ID already taken; 0 lets the
    // composition choose. The track lives as long as the composition.
    MediaCompositionTrack* addMutableTrack(MediaType mediaType, int preferredTrackID = 0);

    std::vector<const MediaCompositionTrack*> tracks() const;
    std::vector<const MediaCompositionTrack*> tracks(MediaType mediaType) const;

    // Where each segment really starts: its target start, plus, for segments of captures,
    // how much later than the earliest capture of the composition it began. Indexed like
    // tracks() and their segments().
    std::vector<std::vector<double>> alignedStartSeconds() const;

    // What the user listened through while the sources were recorded; an export writes it into
    // its file unless unknown.
    OutputKind userOutput() const { return userOutput_; }
    void setUserOutput(OutputKind kind) { userOutput_ = kind; }
    // Whether the near side's track ("You") is one without the far side's echo; an export
    // marks its file so (MediaAsset::nearSideEchoRemoved).
    bool nearSideEchoRemoved() const { return nearSideEchoRemoved_; }
    void setNearSideEchoRemoved(bool removed) { nearSideEchoRemoved_ = removed; }

private:
    std::vector<std::unique_ptr<MediaCompositionTrack>> tracks_;
    OutputKind userOutput_ = OutputKind::unknown;
    bool nearSideEchoRemoved_ = false;
};

} // namespace orvo
