#include "recording/SegmentTracks.h"

#include <algorithm>

#include <QFileInfo>

#include "platform/Platform.h"
#include "shell/API.h"
#include "shell/Console.h"

namespace orvo {

namespace {

// A mixed track shorter than its sides by more than this lost its end (a failed write): the
// sides are mixed again instead.
constexpr double mixShortfallSeconds = 1.0;

// Every second of a segment costs more than this, whatever its index claims: the fragment
// index alone takes over a hundred bytes for each second of any track the capture writes.
constexpr double leastBytesPerSecond = 100.0;

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

bool SegmentTracks::isEchoFreeSegment(const QString& path) {
    return QFileInfo(path).completeBaseName().endsWith(QStringLiteral("_echofree"));
}

SegmentTracks SegmentTracks::read(const std::vector<QString>& segments) {
    return of(load(segments));
}

std::vector<MediaAsset> SegmentTracks::load(const std::vector<QString>& segments) {
    auto& media = Platform::shared().get<Media>();
    std::vector<MediaAsset> assets;
    for (const QString& url : segments) {
        const QString extension = QFileInfo(url).suffix();
        if (extension == extensionWithoutDot(API::audioExtension()) ||
            extension == extensionWithoutDot(API::videoExtension())) {
            assets.push_back(media.loadAsset(url));
        } else {
            assets.emplace_back().path = url;
        }
    }
    return assets;
}

SegmentTracks SegmentTracks::of(const std::vector<MediaAsset>& assets) {
    SegmentTracks tracks;
    for (const MediaAsset& asset : assets) {
        const QString& url = asset.path;
        const QString extension = QFileInfo(url).suffix();
        const MediaType type = extension == extensionWithoutDot(API::videoExtension())
                                   ? MediaType::video
                                   : MediaType::audio;
        if (extension != extensionWithoutDot(API::audioExtension()) && type != MediaType::video)
            continue;
        const auto source = asset.firstTrack(type);
        if (!source || source->durationSeconds <= 0.0) {
            // One never written (a source that delivered nothing), or one that reads without a
            // moment of media (killed before its first fragment), holds nothing to lose.
            tracks.everySegmentRead_ =
                tracks.everySegmentRead_ && (source || QFileInfo(url).size() == 0);
            continue;
        }
        if (isMixSegment(url))
            tracks.mix_ = source;
        else if (isEchoFreeSegment(url))
            tracks.echoFree_ = source;
        else if (type == MediaType::audio)
            tracks.sides_.push_back(
                {*source, QFileInfo(url).completeBaseName().section('_', -1).toUInt()});
        else
            tracks.videos_.push_back(*source);
    }
    tracks.dropImplausibleStarts();
    return tracks;
}

void SegmentTracks::dropImplausibleStarts() {
    std::vector<MediaAssetTrack*> all;
    if (mix_)
        all.push_back(&*mix_);
    if (echoFree_)
        all.push_back(&*echoFree_);
    for (auto& side : sides_)
        all.push_back(&side.track);
    for (auto& video : videos_)
        all.push_back(&video);
    double earliest = 0.0;
    double latest = 0.0;
    double longest = 0.0;
    bool tagged = false;
    for (const MediaAssetTrack* track : all) {
        const double held = double(QFileInfo(track->sourcePath).size()) / leastBytesPerSecond;
        longest = std::max(longest, std::min(track->durationSeconds, held));
        if (const auto start = track->captureStartMicroseconds) {
            const double seconds = double(*start) / 1e6;
            earliest = tagged ? std::min(earliest, seconds) : seconds;
            latest = tagged ? std::max(latest, seconds) : seconds;
            tagged = true;
        }
    }
    // Laid out from their beginnings instead, the segments are off by the lateness of a source
    // at most; laid out by a damaged tag, the merge would pad years of silence.
    if (tagged && latest - earliest > longest) {
        for (MediaAssetTrack* track : all)
            track->captureStartMicroseconds.reset();
    }
}

SegmentTracks::Layout SegmentTracks::compose(MediaComposition& composition,
                                             bool withoutEcho) const {
    double longestSide = 0.0;
    for (const auto& side : sides_)
        longestSide = std::max(longestSide, side.track.durationSeconds);
    Layout layout;
    layout.everySegmentRead = everySegmentRead_;
    layout.remux = mix_ && mix_->durationSeconds >= longestSide - mixShortfallSeconds;
    const bool remux = layout.remux;
    if (mix_ && !remux)
        consoleLine(QStringLiteral("The mixed track holds %1 s of %2 s: the sides are mixed again")
                        .arg(mix_->durationSeconds)
                        .arg(longestSide));
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
    for (const auto& side : sides_) {
        // The echo-free near side is written with the mix: whole when the mix is.
        const bool echoFreeOffered = remux && withoutEcho && side.source == 0 && echoFree_;
        const bool echoFree =
            echoFreeOffered &&
            echoFree_->durationSeconds >= side.track.durationSeconds - mixShortfallSeconds;
        if (echoFree)
            composition.setNearSideEchoRemoved(true);
        else if (echoFreeOffered)
            consoleLine(QStringLiteral("The echo-free side holds %1 s of %2 s and is left out")
                            .arg(echoFree_->durationSeconds)
                            .arg(side.track.durationSeconds));
        add(echoFree ? *echoFree_ : side.track, sideTitle(side.source), !remux);
    }
    for (const auto& video : videos_)
        add(video, QString(), true);
    return layout;
}

} // namespace orvo
