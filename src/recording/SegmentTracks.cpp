#include "recording/SegmentTracks.h"

#include <algorithm>

#include <QFileInfo>

#include "platform/Platform.h"
#include "shell/API.h"

namespace orvo {

namespace {

// A mixed track shorter than its sides by more than this lost its end (a failed write): the
// sides are mixed again instead.
constexpr double mixShortfallSeconds = 1.0;

// The name players show for a side of the call: the microphone first, then the far side.
QString sideTitle(std::size_t side) {
    return side == 0 ? QStringLiteral("You") : QStringLiteral("Them");
}

QString extensionWithoutDot(const QString& extension) {
    return extension.mid(1);
}

} // namespace

bool SegmentTracks::isMixSegment(const QString& path) {
    return QFileInfo(path).completeBaseName().endsWith(QStringLiteral("_mix"));
}

SegmentTracks SegmentTracks::read(const std::vector<QString>& segments) {
    auto& media = Platform::shared().get<Media>();
    SegmentTracks tracks;
    for (const QString& url : segments) {
        const QString extension = QFileInfo(url).suffix();
        const MediaType type = extension == extensionWithoutDot(API::videoExtension())
                                   ? MediaType::video
                                   : MediaType::audio;
        if (extension != extensionWithoutDot(API::audioExtension()) && type != MediaType::video)
            continue;
        const auto source = media.loadAsset(url).firstTrack(type);
        if (!source) {
            // One never written (a source that delivered nothing) holds nothing to lose.
            tracks.everySegmentRead_ = tracks.everySegmentRead_ && QFileInfo(url).size() == 0;
            continue;
        }
        if (isMixSegment(url))
            tracks.mix_ = source;
        else if (type == MediaType::audio)
            tracks.sides_.push_back(*source);
        else
            tracks.videos_.push_back(*source);
    }
    return tracks;
}

SegmentTracks::Layout SegmentTracks::compose(MediaComposition& composition) const {
    double longestSide = 0.0;
    for (const auto& side : sides_)
        longestSide = std::max(longestSide, side.durationSeconds);
    Layout layout;
    layout.everySegmentRead = everySegmentRead_;
    layout.remux = mix_ && mix_->durationSeconds >= longestSide - mixShortfallSeconds;
    const bool remux = layout.remux;
    const auto add = [&](const MediaAssetTrack& source, const QString& title, bool enabled) {
        MediaCompositionTrack* track = composition.addMutableTrack(source.mediaType);
        track->setTitle(title);
        track->setEnabled(enabled);
        layout.anyMedia =
            track->insertTimeRange(source.timeRange(), source, 0.0) || layout.anyMedia;
    };
    // The mix is what every player plays; each side follows as a track of its own.
    if (remux)
        add(*mix_, QString(), true);
    for (std::size_t i = 0; i < sides_.size(); ++i)
        add(sides_[i], remux ? sideTitle(i) : QString(), !remux);
    for (const auto& video : videos_)
        add(video, QString(), true);
    return layout;
}

} // namespace orvo
