#include "platform/MediaComposition.h"

#include <algorithm>

namespace orvo {

namespace {
// Containers round durations to their time bases; a range may overshoot by that much.
constexpr double roundingSeconds = 0.001;
} // namespace

std::optional<MediaAssetTrack>
MediaAsset::firstTrackWhere(const std::function<bool(const MediaAssetTrack&)>& wanted) const {
    const auto found = std::find_if(tracks.begin(), tracks.end(), wanted);
    if (found == tracks.end()) {
        return std::nullopt;
    }
    return *found;
}

std::optional<MediaAssetTrack> MediaAsset::firstTrack(MediaType type) const {
    return firstTrackWhere([type](const MediaAssetTrack& t) { return t.mediaType == type; });
}

std::optional<MediaAssetTrack> MediaAsset::audioTrackTitled(const QString& title) const {
    return firstTrackWhere([&title](const MediaAssetTrack& t) {
        return t.mediaType == MediaType::audio && t.title == title;
    });
}

bool MediaCompositionTrack::insertTimeRange(MediaTimeRange range, const MediaAssetTrack& source,
                                            double atSeconds, QString* error) {
    auto fail = [error](const QString& message) {
        if (error != nullptr) {
            *error = message;
        }
        return false;
    };
    if (source.mediaType != mediaType_) {
        return fail(QStringLiteral("the source track is of another media type"));
    }
    if (range.startSeconds < 0.0 || range.durationSeconds <= 0.0 ||
        range.endSeconds() > source.durationSeconds + roundingSeconds) {
        return fail(QStringLiteral("the time range lies outside the source track"));
    }
    if (atSeconds < 0.0) {
        return fail(QStringLiteral("the insertion time is negative"));
    }
    segments_.push_back({source, range, atSeconds});
    return true;
}

MediaComposition::MediaComposition(const MediaComposition& other) {
    *this = other;
}

MediaComposition& MediaComposition::operator=(const MediaComposition& other) {
    if (this != &other) {
        tracks_.clear();
        for (const auto& track : other.tracks_) {
            tracks_.push_back(std::make_unique<MediaCompositionTrack>(*track));
        }
        userOutput_ = other.userOutput_;
    }
    return *this;
}

MediaCompositionTrack* MediaComposition::addMutableTrack(MediaType mediaType,
                                                         int preferredTrackID) {
    if (mediaType == MediaType::unknown || preferredTrackID < 0) {
        return nullptr;
    }
    auto taken = [this](int id) {
        return std::any_of(tracks_.begin(), tracks_.end(),
                           [id](const auto& track) { return track->trackID() == id; });
    };
    int id = preferredTrackID;
    if (id == 0) {
        id = 1;
        while (taken(id)) {
            ++id;
        }
    } else if (taken(id)) {
        return nullptr;
    }
    tracks_.push_back(std::make_unique<MediaCompositionTrack>(id, mediaType));
    return tracks_.back().get();
}

std::vector<const MediaCompositionTrack*> MediaComposition::tracks() const {
    std::vector<const MediaCompositionTrack*> all;
    for (const auto& track : tracks_) {
        all.push_back(track.get());
    }
    return all;
}

std::vector<const MediaCompositionTrack*> MediaComposition::tracks(MediaType mediaType) const {
    std::vector<const MediaCompositionTrack*> some;
    for (const auto& track : tracks_) {
        if (track->mediaType() == mediaType) {
            some.push_back(track.get());
        }
    }
    return some;
}

std::vector<std::vector<double>> MediaComposition::alignedStartSeconds() const {
    std::optional<std::int64_t> earliest;
    for (const auto& track : tracks_) {
        for (const auto& segment : track->segments()) {
            if (const auto start = segment.source.captureStartMicroseconds) {
                earliest = earliest ? std::min(*earliest, *start) : *start;
            }
        }
    }
    std::vector<std::vector<double>> starts;
    for (const auto& track : tracks_) {
        std::vector<double>& trackStarts = starts.emplace_back();
        for (const auto& segment : track->segments()) {
            double start = segment.targetStartSeconds;
            if (const auto capture = segment.source.captureStartMicroseconds) {
                start += double(*capture - *earliest) / 1e6;
            }
            trackStarts.push_back(start);
        }
    }
    return starts;
}

} // namespace orvo
